#include "media/mkv/ebml.h"

#include <cstring>

namespace mkv {

int VintWidth(uint64_t value) {
  int width = 1;
  while (width < 8 && value >= (uint64_t{1} << (7 * width)) - 1) ++width;
  return width;
}

void PutVint(Bytes& out, uint64_t value, int width) {
  const uint64_t marked = value | uint64_t{1} << (7 * width);
  for (int i = width - 1; i >= 0; --i) out.push_back(uint8_t(marked >> (8 * i)));
}

void PutId(Bytes& out, uint32_t elementId) {
  int width = elementId > 0xFFFFFF ? 4 : elementId > 0xFFFF ? 3 : elementId > 0xFF ? 2 : 1;
  for (int i = width - 1; i >= 0; --i) out.push_back(uint8_t(elementId >> (8 * i)));
}

int UintWidth(uint64_t value) {
  int width = 1;
  while (width < 8 && value >> (8 * width)) ++width;
  return width;
}

void PutUint(Bytes& out, uint32_t elementId, uint64_t value, int width) {
  if (width <= 0) width = UintWidth(value);
  PutId(out, elementId);
  PutVint(out, uint64_t(width), 1);
  for (int i = width - 1; i >= 0; --i) out.push_back(uint8_t(value >> (8 * i)));
}

void PutFloat(Bytes& out, uint32_t elementId, double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  PutUint(out, elementId, bits, 8);
}

void PutString(Bytes& out, uint32_t elementId, std::string_view text) {
  PutBinary(out, elementId,
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void PutBinary(Bytes& out, uint32_t elementId, std::span<const uint8_t> data) {
  PutId(out, elementId);
  PutVint(out, data.size(), VintWidth(data.size()));
  out.insert(out.end(), data.begin(), data.end());
}

void PutMaster(Bytes& out, uint32_t elementId, const Bytes& body) {
  PutBinary(out, elementId, body);
}

int PutVoidHeader(Bytes& out, uint64_t total) {
  // One byte of ID, then the narrowest size field that leaves a data size it
  // can hold: 2 bytes of header up to 128 bytes in all, 9 at most.
  for (int width = 1; width <= 8; ++width) {
    if (total < uint64_t(1 + width)) return -1;
    const uint64_t data = total - 1 - uint64_t(width);
    if (VintWidth(data) <= width) {
      PutId(out, id::kVoid);
      PutVint(out, data, width);
      return 1 + width;
    }
  }
  return -1;
}

bool PutVoid(Bytes& out, uint64_t total) {
  if (total == 0) return true;
  const int header = PutVoidHeader(out, total);
  if (header < 0) return false;
  out.insert(out.end(), size_t(total - uint64_t(header)), 0);
  return true;
}

}  // namespace mkv
