#pragma once

#include <array>
#include <cstdint>

// Whether a body flows fast enough to be worth waiting for. The clock that
// counts is the time spent waiting for the body, not the wall clock: while
// nobody reads (the engine's cache is full), the server owes nothing. Its
// memory is fixed, however many reads there are.
namespace net {

class ProgressGuard {
 public:
  ProgressGuard(int64_t minBytes, int windowMs);

  // Time spent waiting for the body, and body bytes that came.
  void Waited(int64_t ms);
  void Received(int64_t bytes);
  // A whole window of waiting has passed with fewer than minBytes in it.
  bool Starved() const;
  // Bytes received in the last window of waiting.
  int64_t BytesInWindow() const;

 private:
  static constexpr int kBuckets = 20;
  void Advance();

  int64_t minBytes_;
  int64_t bucketMs_;
  int64_t waited_ = 0;       // all waiting so far
  int64_t bucketStart_ = 0;  // the waiting time the newest bucket began at
  int current_ = 0;
  std::array<int64_t, kBuckets> bytes_{};
};

}  // namespace net
