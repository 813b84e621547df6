#include "media/flv/bit_reader.h"
#include "media/flv/video_configs.h"

namespace flv_reader {
namespace {

using bits::BitReader;

constexpr int kSequenceHeaderObu = 1;
// OBUs looked at for a sequence header before giving up: it comes first in
// a key frame's temporal unit (after the temporal delimiter) and in av1C.
constexpr int kMaxObus = 16;

// leb128 as OBU sizes are written: at most 8 bytes, value within 32 bits.
std::optional<uint64_t> Leb128(std::span<const uint8_t> bytes, size_t& at) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    if (at >= bytes.size()) return std::nullopt;
    const uint8_t b = bytes[at++];
    value |= uint64_t{b & 0x7fu} << (7 * i);
    if (!(b & 0x80)) return value <= UINT32_MAX ? std::optional<uint64_t>(value) : std::nullopt;
  }
  return std::nullopt;
}

uint32_t Uvlc(BitReader& bits) {
  int zeros = 0;
  while (!bits.overrun() && bits.Bits(1) == 0) {
    if (++zeros >= 32) return UINT32_MAX;
  }
  return zeros == 0 ? 0 : static_cast<uint32_t>(bits.Bits(zeros) + (uint64_t{1} << zeros) - 1);
}

std::optional<VideoFormat> ParseSequenceHeader(std::span<const uint8_t> payload) {
  BitReader bits(payload);
  VideoFormat format;
  format.profile = static_cast<int>(bits.Bits(3));
  if (format.profile > 2) return std::nullopt;
  bits.Skip(1);  // still_picture
  const bool reduced = bits.Bits(1);
  if (reduced) {
    format.level = static_cast<int>(bits.Bits(5));
  } else {
    bool decoderModel = false;
    uint32_t delayBits = 0;
    if (bits.Bits(1)) {              // timing_info_present_flag
      bits.Skip(64);                 // num_units_in_display_tick, time_scale
      if (bits.Bits(1)) Uvlc(bits);  // equal picture interval: ticks per picture
      decoderModel = bits.Bits(1);
      if (decoderModel) {
        delayBits = bits.Bits(5) + 1;
        bits.Skip(32 + 5 + 5);
      }
    }
    const bool initialDelay = bits.Bits(1);
    const uint32_t points = bits.Bits(5) + 1;
    for (uint32_t i = 0; i < points && !bits.overrun(); ++i) {
      bits.Skip(12);  // operating_point_idc
      const uint32_t level = bits.Bits(5);
      if (i == 0) format.level = static_cast<int>(level);
      if (level > 7) bits.Skip(1);  // seq_tier
      if (decoderModel && bits.Bits(1)) bits.Skip(2 * delayBits + 1);
      if (initialDelay && bits.Bits(1)) bits.Skip(4);
    }
  }
  const int widthBits = static_cast<int>(bits.Bits(4)) + 1;
  const int heightBits = static_cast<int>(bits.Bits(4)) + 1;
  const int64_t width = int64_t{bits.Bits(widthBits)} + 1;
  const int64_t height = int64_t{bits.Bits(heightBits)} + 1;
  if (bits.overrun()) return std::nullopt;
  const auto size = bits::Sane(width, height);
  if (!size) return std::nullopt;
  format.size = *size;
  return format;
}

}  // namespace

std::optional<VideoFormat> Av1SequenceHeaderFormat(std::span<const uint8_t> obus) {
  size_t at = 0;
  for (int n = 0; n < kMaxObus && at < obus.size(); ++n) {
    const uint8_t header = obus[at++];
    if (header & 0x80) return std::nullopt;  // forbidden bit
    const int type = (header >> 3) & 0x0f;
    if (header & 0x04) ++at;  // extension byte
    size_t size = obus.size() - std::min(at, obus.size());
    if (header & 0x02) {
      const auto declared = Leb128(obus, at);
      if (!declared || *declared > obus.size() - std::min(at, obus.size())) return std::nullopt;
      size = static_cast<size_t>(*declared);
    }
    if (at > obus.size()) return std::nullopt;
    if (type == kSequenceHeaderObu) return ParseSequenceHeader(obus.subspan(at, size));
    at += size;
  }
  return std::nullopt;
}

std::optional<Av1Config> ParseAv1Config(std::span<const uint8_t> record) {
  // Marker bit and version 1.
  if (record.size() < 4 || record[0] != 0x81) return std::nullopt;
  Av1Config config;
  VideoFormat& f = config.format;
  f.profile = record[1] >> 5;
  f.level = record[1] & 0x1f;
  config.highTier = record[2] & 0x80;
  const bool highBitDepth = record[2] & 0x40, twelveBit = record[2] & 0x20;
  f.bitDepth = !highBitDepth ? 8 : (f.profile == 2 && twelveBit) ? 12 : 10;
  const bool mono = record[2] & 0x10, subX = record[2] & 0x08, subY = record[2] & 0x04;
  f.chromaFormat = mono ? 0 : (subX && subY) ? 1 : subX ? 2 : 3;
  if (f.profile > 2) return std::nullopt;
  if (auto header = Av1SequenceHeaderFormat(record.subspan(4))) f.size = header->size;
  return config;
}

}  // namespace flv_reader
