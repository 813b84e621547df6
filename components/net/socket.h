#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "net/cancel.h"
#include "net/resolve.h"
#include "net/transport.h"
#include "net/url.h"

// Opens a connection to an address's server, plain or through TLS, within a
// deadline and a cancel (transport.h says what a connection promises).
namespace net {

struct Connected {
  std::unique_ptr<Transport> transport;  // null on failure
  std::string error;
  bool timedOut = false;
  bool cancelled = false;
};

// Resolves, connects and (https) does the TLS handshake, each within
// `connectMs`. The certificate is checked against the system's trust store
// and the address's host (tls.h); there is no way to skip that.
Connected Connect(const Url& url, int connectMs, const CancelFlag& cancel);

}  // namespace net
