#pragma once

#include <cstdint>
#include <string>

#include "net/cancel.h"

// A connection's bytes, whatever carries them (plain TCP or TLS), with a
// deadline on every wait: no call here blocks past its deadline, nor for
// more than kCancelPollMs after the request is cancelled.
namespace net {

enum class Io { kOk, kEnd, kTimeout, kCancelled, kError };

struct IoResult {
  Io status = Io::kError;
  int64_t bytes = 0;
};

// Waits until `fd` is ready for `events` (poll's), the deadline, or a cancel.
Io WaitFd(int fd, short events, Clock::time_point deadline, const CancelFlag& cancel);

class Transport {
 public:
  virtual ~Transport() = default;
  // Some bytes, as soon as there are any; kEnd when the peer closed.
  virtual IoResult Read(char* buffer, int64_t size, Clock::time_point deadline,
                        const CancelFlag& cancel) = 0;
  // All of `data`, or a failure.
  virtual Io Write(const char* data, int64_t size, Clock::time_point deadline,
                   const CancelFlag& cancel) = 0;
  // Why the last call failed (kError), in words.
  virtual std::string Error() const = 0;
};

}  // namespace net
