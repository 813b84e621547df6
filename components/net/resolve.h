#pragma once

#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/cancel.h"

// Names to addresses without letting the system's resolver hold anyone up:
// the lookup runs on a thread of its own, and whoever waits for it leaves at
// its deadline or when cancelled; the thread ends by itself later.
namespace net {

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

struct Resolved {
  std::vector<Address> addresses;  // empty on failure
  std::string error;               // why, in words
  bool timedOut = false;
  bool cancelled = false;
};

// At most kMaxAddresses of `host`'s addresses, port `port`. A literal
// address is taken as it is, without a lookup.
inline constexpr size_t kMaxAddresses = 8;
Resolved Resolve(const std::string& host, int port, Clock::time_point deadline,
                 const CancelFlag& cancel);

}  // namespace net
