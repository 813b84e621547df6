#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The chunked transfer coding, undone as bytes come: what goes in is what
// the server sent, what comes out is the body. Its framing is bounded (a
// size line of at most kMaxLine bytes, trailers of at most kMaxTrailer), so
// a server cannot make it hold or scan without end.
namespace net {

class ChunkedDecoder {
 public:
  static constexpr size_t kMaxLine = 1024;
  static constexpr size_t kMaxTrailer = size_t{64} << 10;

  // Takes from `in` what it can and writes body bytes to `out` (at most
  // `outSize`); returns how many, and sets `*used` to the input taken.
  size_t Decode(const char* in, size_t inSize, char* out, size_t outSize, size_t* used);
  bool Done() const { return state_ == State::kDone; }
  bool Failed() const { return state_ == State::kError; }

 private:
  enum class State { kSize, kData, kDataEnd, kTrailer, kDone, kError };
  bool EndSizeLine();

  State state_ = State::kSize;
  uint64_t left_ = 0;
  std::string line_;
  size_t trailer_ = 0;
};

}  // namespace net
