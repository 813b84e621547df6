#include "net/transport.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace net {

Io WaitFd(int fd, short events, Clock::time_point deadline, const CancelFlag& cancel) {
  for (;;) {
    if (cancel.Cancelled()) return Io::kCancelled;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return Io::kTimeout;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, int(std::min<int64_t>(left, kCancelPollMs)));
    if (ready > 0) return Io::kOk;  // errors and hang-ups show in the next call
    if (ready < 0 && errno != EINTR) return Io::kError;
  }
}

}  // namespace net
