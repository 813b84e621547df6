#include "net/progress_guard.h"

#include <algorithm>
#include <numeric>

namespace net {

ProgressGuard::ProgressGuard(int64_t minBytes, int windowMs)
    : minBytes_(minBytes), bucketMs_(std::max<int64_t>(windowMs / kBuckets, 1)) {}

void ProgressGuard::Advance() {
  while (waited_ - bucketStart_ >= bucketMs_) {
    bucketStart_ += bucketMs_;
    current_ = (current_ + 1) % kBuckets;
    bytes_[current_] = 0;
  }
}

void ProgressGuard::Waited(int64_t ms) {
  if (ms <= 0) return;
  // A long wait empties the whole window at once; no need to step through it.
  if (ms > bucketMs_ * kBuckets) {
    const int64_t skipped = (ms / bucketMs_ - kBuckets) * bucketMs_;
    bucketStart_ += skipped;
  }
  waited_ += ms;
  Advance();
}

void ProgressGuard::Received(int64_t bytes) { bytes_[current_] += bytes; }

int64_t ProgressGuard::BytesInWindow() const {
  return std::accumulate(bytes_.begin(), bytes_.end(), int64_t{0});
}

bool ProgressGuard::Starved() const {
  return waited_ >= bucketMs_ * kBuckets && BytesInWindow() < minBytes_;
}

}  // namespace net
