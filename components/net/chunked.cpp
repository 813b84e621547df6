#include "net/chunked.h"

#include <algorithm>
#include <cstring>

namespace net {

bool ChunkedDecoder::EndSizeLine() {
  // "1a3f;name=value": hex digits, then extensions, which are ignored.
  uint64_t size = 0;
  size_t digits = 0;
  for (const char c : line_) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    if (value < 0) break;
    // 15 hex digits: more than any body, and no overflow.
    if (++digits > 15) return false;
    size = size * 16 + uint64_t(value);
  }
  if (digits == 0) return false;
  line_.clear();
  left_ = size;
  state_ = size == 0 ? State::kTrailer : State::kData;
  return true;
}

size_t ChunkedDecoder::Decode(const char* in, size_t inSize, char* out, size_t outSize,
                              size_t* used) {
  size_t at = 0, written = 0;
  while (at < inSize && state_ != State::kDone && state_ != State::kError) {
    const char c = in[at];
    switch (state_) {
      case State::kSize:
      case State::kTrailer:
        ++at;
        if (c == '\n') {
          if (state_ == State::kSize) {
            if (!EndSizeLine()) state_ = State::kError;
          } else if (line_.empty() || line_ == "\r") {
            state_ = State::kDone;
          } else {
            line_.clear();
          }
          break;
        }
        line_ += c;
        if ((state_ == State::kSize && line_.size() > kMaxLine) ||
            (state_ == State::kTrailer && ++trailer_ > kMaxTrailer)) {
          state_ = State::kError;
        }
        break;
      case State::kData: {
        if (written == outSize) {
          *used = at;
          return written;
        }
        const size_t n = size_t(std::min<uint64_t>({left_, inSize - at, outSize - written}));
        std::memcpy(out + written, in + at, n);
        written += n;
        at += n;
        left_ -= n;
        if (left_ == 0) state_ = State::kDataEnd;
        break;
      }
      case State::kDataEnd:
        ++at;
        if (c == '\n') {
          state_ = State::kSize;
        } else if (c != '\r') {
          state_ = State::kError;
        }
        break;
      case State::kDone:
      case State::kError:
        break;
    }
  }
  *used = at;
  return written;
}

}  // namespace net
