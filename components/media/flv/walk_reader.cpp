#include "media/flv/walk_reader.h"

#include <algorithm>

namespace flv_reader::walk {
namespace {

// Enough for a header and the first bytes of its body, and few enough that
// reading them for every large tag costs little.
constexpr int64_t kSparseReadBytes = 512;

}  // namespace

Reader::Reader(const ByteSource& source, int64_t readAhead)
    : source_(source), readAhead_(std::max<int64_t>(readAhead, kSparseReadBytes)) {}

void Reader::Reset(int64_t size) {
  size_ = size;
  len_ = 0;
  failed_ = false;
}

const uint8_t* Reader::Get(int64_t offset, int64_t n) {
  static constexpr uint8_t kNothing = 0;
  if (offset < 0 || n < 0 || offset > size_ - n) return nullptr;
  if (n == 0) return &kNothing;
  if (offset >= start_ && offset + n <= start_ + len_) return buffer_.data() + (offset - start_);
  const int64_t want =
      std::min(std::max(n, sparse_ ? kSparseReadBytes : readAhead_), size_ - offset);
  if (static_cast<int64_t>(buffer_.size()) < want) buffer_.resize(static_cast<size_t>(want));
  const int64_t got = source_.ReadAt(offset, buffer_.data(), want);
  len_ = 0;
  if (got < n) {
    // A read error, or a file that shrank or a source that holds less:
    // the file ends where the bytes end, for this pass.
    if (got < 0) {
      failed_ = true;
    } else {
      size_ = offset + got;
    }
    return nullptr;
  }
  start_ = offset;
  len_ = got;
  return buffer_.data();
}

}  // namespace flv_reader::walk
