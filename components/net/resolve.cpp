#include "net/resolve.h"

#include <netdb.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace net {
namespace {

// Shared by the waiter and the lookup thread: whichever leaves last frees it.
struct Lookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  Resolved result;
};

Resolved Run(const std::string& host, int port, bool numericOnly) {
  Resolved result;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG | (numericOnly ? AI_NUMERICHOST : 0);
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    result.error = "the name " + host + " could not be resolved (" + gai_strerror(rc) + ")";
    return result;
  }
  for (const addrinfo* at = list; at && result.addresses.size() < kMaxAddresses; at = at->ai_next) {
    if (at->ai_addrlen > sizeof(sockaddr_storage)) continue;
    Address address;
    std::memcpy(&address.storage, at->ai_addr, at->ai_addrlen);
    address.length = at->ai_addrlen;
    result.addresses.push_back(address);
  }
  freeaddrinfo(list);
  if (result.addresses.empty()) result.error = "the name " + host + " has no address";
  return result;
}

}  // namespace

Resolved Resolve(const std::string& host, int port, Clock::time_point deadline,
                 const CancelFlag& cancel) {
  // A literal needs no lookup, and so no thread.
  Resolved literal = Run(host, port, true);
  if (!literal.addresses.empty()) return literal;

  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host, port] {
    Resolved result = Run(host, port, false);
    const std::lock_guard lock(lookup->mutex);
    lookup->result = std::move(result);
    lookup->finished = true;
    lookup->done.notify_all();
  }).detach();

  std::unique_lock lock(lookup->mutex);
  for (;;) {
    if (lookup->finished) return lookup->result;
    if (cancel.Cancelled()) {
      Resolved cancelled;
      cancelled.cancelled = true;
      cancelled.error = "cancelled";
      return cancelled;
    }
    const auto now = Clock::now();
    if (now >= deadline) {
      Resolved late;
      late.timedOut = true;
      late.error = "the name " + host + " was not resolved in time";
      return late;
    }
    lookup->done.wait_for(
        lock, std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(kCancelPollMs)));
  }
}

}  // namespace net
