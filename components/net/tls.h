#pragma once

#include <memory>
#include <string>

#include "net/cancel.h"
#include "net/transport.h"

// TLS over a connected socket, OpenSSL's. The promise: a connection is
// handed out only when the server's certificate chains to the system's
// trust store (OpenSSL's default paths, which honour SSL_CERT_FILE and
// SSL_CERT_DIR) and names the host asked for (or, for an address literal,
// that address). TLS 1.2 at least, SNI for names. Nothing turns this off.
namespace net {

struct TlsFailure {
  // "its certificate is not valid for HOST: <OpenSSL's reason>" when the
  // check failed, else what went wrong with the handshake.
  std::string error;
  bool timedOut = false;
  bool cancelled = false;
};

// Takes `fd` over (closed on failure too). Null on failure.
std::unique_ptr<Transport> StartTls(int fd, const std::string& host, bool hostIsAddress,
                                    Clock::time_point deadline, const CancelFlag& cancel,
                                    TlsFailure* failure);

}  // namespace net
