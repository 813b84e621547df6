#include "net/socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/tls.h"

namespace net {
namespace {

class TcpTransport final : public Transport {
 public:
  explicit TcpTransport(int fd) : fd_(fd) {}
  ~TcpTransport() override { ::close(fd_); }

  IoResult Read(char* buffer, int64_t size, Clock::time_point deadline,
                const CancelFlag& cancel) override {
    for (;;) {
      const ssize_t got = ::recv(fd_, buffer, size_t(size), 0);
      if (got > 0) return {Io::kOk, got};
      if (got == 0) return {Io::kEnd, 0};
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        error_ = std::strerror(errno);
        return {Io::kError, 0};
      }
      const Io waited = WaitFd(fd_, POLLIN, deadline, cancel);
      if (waited != Io::kOk) return {waited, 0};
    }
  }

  Io Write(const char* data, int64_t size, Clock::time_point deadline,
           const CancelFlag& cancel) override {
    while (size > 0) {
      // MSG_NOSIGNAL: a server that hangs up must not end the program.
      const ssize_t sent = ::send(fd_, data, size_t(size), MSG_NOSIGNAL);
      if (sent > 0) {
        data += sent;
        size -= sent;
        continue;
      }
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        error_ = std::strerror(errno);
        return Io::kError;
      }
      const Io waited = WaitFd(fd_, POLLOUT, deadline, cancel);
      if (waited != Io::kOk) return waited;
    }
    return Io::kOk;
  }

  std::string Error() const override { return error_; }

 private:
  int fd_;
  std::string error_;
};

// One address, non-blocking; the socket on success, -1 with `error` set.
int ConnectOne(const Address& address, Clock::time_point deadline, const CancelFlag& cancel,
               Io* status, std::string* error) {
  const int fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *status = Io::kError;
    *error = std::strerror(errno);
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0) {
    *status = Io::kOk;
    return fd;
  }
  if (errno != EINPROGRESS) {
    *status = Io::kError;
    *error = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  *status = WaitFd(fd, POLLOUT, deadline, cancel);
  if (*status == Io::kOk) {
    int failure = 0;
    socklen_t length = sizeof failure;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) == 0 && failure == 0) return fd;
    *status = Io::kError;
    *error = std::strerror(failure ? failure : errno);
  }
  ::close(fd);
  return -1;
}

}  // namespace

Connected Connect(const Url& url, int connectMs, const CancelFlag& cancel) {
  Connected result;
  const auto deadline = Clock::now() + std::chrono::milliseconds(connectMs);
  const Resolved resolved = Resolve(url.host, url.port, deadline, cancel);
  if (resolved.addresses.empty()) {
    result.error = resolved.error;
    result.timedOut = resolved.timedOut;
    result.cancelled = resolved.cancelled;
    return result;
  }
  int fd = -1;
  for (const Address& address : resolved.addresses) {
    Io status = Io::kError;
    fd = ConnectOne(address, deadline, cancel, &status, &result.error);
    if (fd >= 0) break;
    if (status == Io::kTimeout || status == Io::kCancelled) {
      result.timedOut = status == Io::kTimeout;
      result.cancelled = status == Io::kCancelled;
      return result;
    }
  }
  if (fd < 0) return result;
  if (!url.https) {
    result.transport = std::make_unique<TcpTransport>(fd);
    result.error.clear();
    return result;
  }
  TlsFailure failure;
  result.transport = StartTls(fd, url.host, url.HostIsAddress(), deadline, cancel, &failure);
  result.error = failure.error;
  result.timedOut = failure.timedOut;
  result.cancelled = failure.cancelled;
  return result;
}

}  // namespace net
