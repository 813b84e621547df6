#include "net/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <ctime>

namespace net {
namespace {

// OpenSSL writes with write(), and a server that has hung up would end the
// program with SIGPIPE: it is held back on this thread while OpenSSL works,
// and one that came meanwhile is taken before the mask goes back.
class NoSigpipe {
 public:
  NoSigpipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~NoSigpipe() {
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) && !sigismember(&old_, SIGPIPE)) {
      const timespec none{0, 0};
      sigtimedwait(&pipe_, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t pipe_;
  sigset_t old_;
};

// One context for the program: the trust store is read once.
SSL_CTX* Context() {
  static SSL_CTX* const context = [] {
    SSL_CTX* made = SSL_CTX_new(TLS_client_method());
    if (!made) return made;
    SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
    SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(made);
    SSL_CTX_set_mode(made, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return made;
  }();
  return context;
}

std::string OpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "the connection was closed";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  // "error:0A000410:SSL routines::sslv3 alert handshake failure": the last
  // part is the reason.
  const std::string all = text;
  const size_t colon = all.rfind(':');
  return colon == std::string::npos ? all : all.substr(colon + 1);
}

class TlsTransport final : public Transport {
 public:
  TlsTransport(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
  ~TlsTransport() override {
    SSL_free(ssl_);
    ::close(fd_);
  }

  IoResult Read(char* buffer, int64_t size, Clock::time_point deadline,
                const CancelFlag& cancel) override {
    const NoSigpipe guard;
    for (;;) {
      size_t got = 0;
      const int rc = SSL_read_ex(ssl_, buffer, size_t(size), &got);
      if (rc == 1) return {Io::kOk, int64_t(got)};
      const int why = SSL_get_error(ssl_, rc);
      if (why == SSL_ERROR_ZERO_RETURN) return {Io::kEnd, 0};
      const Io waited = Wait(why, deadline, cancel);
      if (waited == Io::kEnd) return {Io::kEnd, 0};
      if (waited != Io::kOk) return {waited, 0};
    }
  }

  Io Write(const char* data, int64_t size, Clock::time_point deadline,
           const CancelFlag& cancel) override {
    const NoSigpipe guard;
    while (size > 0) {
      size_t sent = 0;
      const int rc = SSL_write_ex(ssl_, data, size_t(size), &sent);
      if (rc == 1) {
        data += sent;
        size -= int64_t(sent);
        continue;
      }
      const Io waited = Wait(SSL_get_error(ssl_, rc), deadline, cancel);
      if (waited != Io::kOk) return waited == Io::kEnd ? Io::kError : waited;
    }
    return Io::kOk;
  }

  std::string Error() const override { return error_; }

  // What an SSL call that did not succeed needs: a wait, the end, or a failure.
  Io Wait(int why, Clock::time_point deadline, const CancelFlag& cancel) {
    if (why == SSL_ERROR_WANT_READ) return WaitFd(fd_, POLLIN, deadline, cancel);
    if (why == SSL_ERROR_WANT_WRITE) return WaitFd(fd_, POLLOUT, deadline, cancel);
    // A peer that closes without TLS's own goodbye: the end for a body that
    // says its length or ends with the connection anyway.
    if (why == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
      ERR_clear_error();
      return Io::kEnd;
    }
    if (why == SSL_ERROR_SSL &&
        ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
      ERR_clear_error();
      return Io::kEnd;
    }
    error_ = OpenSslError();
    return Io::kError;
  }

 private:
  int fd_;
  SSL* ssl_;
  std::string error_;
};

}  // namespace

std::unique_ptr<Transport> StartTls(int fd, const std::string& host, bool hostIsAddress,
                                    Clock::time_point deadline, const CancelFlag& cancel,
                                    TlsFailure* failure) {
  SSL_CTX* context = Context();
  SSL* ssl = context ? SSL_new(context) : nullptr;
  if (!ssl) {
    ::close(fd);
    failure->error = "the secure connection could not be set up (" + OpenSslError() + ")";
    return nullptr;
  }
  SSL_set_fd(ssl, fd);
  if (hostIsAddress) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl, host.c_str());
    SSL_set1_host(ssl, host.c_str());
  }
  auto transport = std::make_unique<TlsTransport>(fd, ssl);
  const NoSigpipe guard;
  for (;;) {
    const int rc = SSL_connect(ssl);
    if (rc == 1) return transport;
    const int why = SSL_get_error(ssl, rc);
    const long verified = SSL_get_verify_result(ssl);
    if (why != SSL_ERROR_WANT_READ && why != SSL_ERROR_WANT_WRITE && verified != X509_V_OK) {
      ERR_clear_error();
      failure->error = "its certificate is not valid for " + host + ": " +
                       X509_verify_cert_error_string(verified);
      return nullptr;
    }
    const Io waited = transport->Wait(why, deadline, cancel);
    if (waited == Io::kOk) continue;
    failure->timedOut = waited == Io::kTimeout;
    failure->cancelled = waited == Io::kCancelled;
    failure->error = waited == Io::kError
                         ? "the secure connection to " + host + " failed: " + transport->Error()
                         : "the secure connection to " + host + " was closed";
    return nullptr;
  }
}

}  // namespace net
