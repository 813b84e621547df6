#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/flv/byte_source.h"

// Box headers and the tables inside boxes, read from a byte source with
// every size checked: a box never reaches past its parent or the file, and
// a table is read a block at a time, however many entries it claims.
namespace mp4_reader {

using flv_reader::ByteSource;

constexpr uint32_t FourCc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
         uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}
// Four printable characters; anything else as '?'.
std::string FourCcText(uint32_t type);

uint16_t Be16(const uint8_t* p);
uint32_t Be32(const uint8_t* p);
uint64_t Be64(const uint8_t* p);

// Exactly `length` bytes at `offset`, or false.
bool ReadExactly(const ByteSource& source, int64_t offset, void* buffer, int64_t length);

struct Box {
  uint32_t type = 0;
  int64_t offset = 0;
  int64_t headerBytes = 8;  // 16 with a 64-bit size
  int64_t end = 0;          // one past its last byte, clamped to where its parent ends
  int64_t claimedEnd = 0;   // where its size says it ends
  bool toEnd = false;       // size 0: up to the end of its parent
  int64_t Body() const { return offset + headerBytes; }
  int64_t BodyBytes() const { return end - Body(); }
  bool Overruns() const { return claimedEnd > end; }
};

enum class BoxRead : uint8_t { kOk, kEnd, kBroken };
// The box at `offset` within a parent ending at `parentEnd`. kEnd: no room
// for a header; kBroken: a size smaller than its own header, or unreadable.
BoxRead ReadBox(const ByteSource& source, int64_t offset, int64_t parentEnd, Box* box);

// The bytes of a small box's body (headers of mvhd, tkhd, stsd and the
// like), at most `maxBytes`.
std::vector<uint8_t> ReadBody(const ByteSource& source, const Box& box, int64_t maxBytes);

// Fixed-size entries of a table, one at a time, from a buffer refilled a
// block at a time.
class EntryCursor {
 public:
  EntryCursor() = default;
  EntryCursor(const ByteSource* source, int64_t first, int64_t count, int entryBytes);
  // The next entry's bytes, or null at the end or on a read error.
  const uint8_t* Next();
  int64_t Remaining() const { return count_ - index_; }

 private:
  const ByteSource* source_ = nullptr;
  int64_t first_ = 0;
  int64_t count_ = 0;
  int entryBytes_ = 1;
  int64_t index_ = 0;
  std::vector<uint8_t> buffer_;
  int64_t bufferFirst_ = 0;  // the index of the buffer's first entry
  int64_t bufferCount_ = 0;
};

}  // namespace mp4_reader
