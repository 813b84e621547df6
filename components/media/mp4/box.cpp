#include "media/mp4/box.h"

#include <algorithm>

namespace mp4_reader {
namespace {

constexpr int64_t kBlockBytes = 64 << 10;

}  // namespace

std::string FourCcText(uint32_t type) {
  std::string text(4, '?');
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<char>(type >> (24 - 8 * i));
    if (c >= 0x20 && c < 0x7f) text[i] = c;
  }
  return text;
}

uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint64_t Be64(const uint8_t* p) { return uint64_t(Be32(p)) << 32 | Be32(p + 4); }

bool ReadExactly(const ByteSource& source, int64_t offset, void* buffer, int64_t length) {
  return offset >= 0 && length >= 0 && source.ReadAt(offset, buffer, length) == length;
}

BoxRead ReadBox(const ByteSource& source, int64_t offset, int64_t parentEnd, Box* box) {
  if (parentEnd - offset < 8) return BoxRead::kEnd;
  uint8_t header[16];
  if (!ReadExactly(source, offset, header, 8)) return BoxRead::kBroken;
  box->offset = offset;
  box->type = Be32(header + 4);
  box->headerBytes = 8;
  box->toEnd = false;
  uint64_t size = Be32(header);
  if (size == 1) {
    if (parentEnd - offset < 16 || !ReadExactly(source, offset + 8, header + 8, 8)) {
      return BoxRead::kBroken;
    }
    size = Be64(header + 8);
    box->headerBytes = 16;
  } else if (size == 0) {
    box->toEnd = true;
    size = static_cast<uint64_t>(parentEnd - offset);
  }
  if (size < static_cast<uint64_t>(box->headerBytes)) return BoxRead::kBroken;
  // A claim past anything a file can hold stays a claim past its parent.
  const uint64_t room = static_cast<uint64_t>(INT64_MAX - offset);
  box->claimedEnd = size > room ? INT64_MAX : offset + static_cast<int64_t>(size);
  box->end = std::min(box->claimedEnd, parentEnd);
  return BoxRead::kOk;
}

std::vector<uint8_t> ReadBody(const ByteSource& source, const Box& box, int64_t maxBytes) {
  std::vector<uint8_t> body(static_cast<size_t>(std::clamp<int64_t>(box.BodyBytes(), 0, maxBytes)));
  const int64_t got =
      body.empty() ? 0 : source.ReadAt(box.Body(), body.data(), static_cast<int64_t>(body.size()));
  body.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
  return body;
}

EntryCursor::EntryCursor(const ByteSource* source, int64_t first, int64_t count, int entryBytes)
    : source_(source),
      first_(first),
      count_(std::max<int64_t>(count, 0)),
      entryBytes_(entryBytes) {}

const uint8_t* EntryCursor::Next() {
  if (index_ >= count_) return nullptr;
  if (index_ >= bufferFirst_ + bufferCount_) {
    const int64_t perBlock = std::max<int64_t>(kBlockBytes / entryBytes_, 1);
    const int64_t n = std::min(perBlock, count_ - index_);
    buffer_.resize(static_cast<size_t>(n * entryBytes_));
    if (!ReadExactly(*source_, first_ + index_ * entryBytes_, buffer_.data(),
                     static_cast<int64_t>(buffer_.size()))) {
      count_ = index_;  // unreadable: the table ends here
      return nullptr;
    }
    bufferFirst_ = index_;
    bufferCount_ = n;
  }
  const uint8_t* entry = buffer_.data() + (index_ - bufferFirst_) * entryBytes_;
  ++index_;
  return entry;
}

}  // namespace mp4_reader
