#pragma once

#include <atomic>
#include <chrono>
#include <memory>

// A request's way out, set from any thread: every wait of the client looks
// at it at least every kCancelPollMs, so a cancelled request ends that soon,
// whatever the server does. Waits end at deadlines on Clock.
namespace net {

using Clock = std::chrono::steady_clock;

inline constexpr int kCancelPollMs = 100;

class CancelFlag {
 public:
  void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }
  bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> cancelled_{false};
};

using Cancel = std::shared_ptr<CancelFlag>;

}  // namespace net
