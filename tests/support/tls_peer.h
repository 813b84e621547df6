#pragma once

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cstdio>
#include <memory>
#include <string>

#include "support/script_server.h"

// Certificates made while the test runs, and ScriptServer's TLS side: a
// test authority, server certificates it signs or that sign themselves,
// for whatever name the case needs.
namespace tls_peer {

struct Identity {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
};

// A certificate for `altName` ("IP:127.0.0.1", "DNS:other.example"),
// signed by `issuer`, or by itself when there is none; `ca` makes it an
// authority.
inline Identity Make(const std::string& commonName, const std::string& altName,
                     const Identity* issuer, bool ca) {
  static long serial = 1;
  Identity made;
  made.key = EVP_EC_gen("P-256");
  made.cert = X509_new();
  X509_set_version(made.cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(made.cert), serial++);
  X509_gmtime_adj(X509_getm_notBefore(made.cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(made.cert), 86400);
  X509_set_pubkey(made.cert, made.key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(made.cert), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  const Identity& signer = issuer ? *issuer : made;
  X509_set_issuer_name(made.cert, X509_get_subject_name(signer.cert));
  X509V3_CTX context;
  X509V3_set_ctx(&context, signer.cert, made.cert, nullptr, nullptr, 0);
  const auto add = [&](int nid, const char* value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(made.cert, extension, -1);
    X509_EXTENSION_free(extension);
  };
  add(NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
  if (!altName.empty()) add(NID_subject_alt_name, altName.c_str());
  X509_sign(made.cert, signer.key, EVP_sha256());
  return made;
}

inline bool WritePem(const Identity& identity, const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  const bool ok = PEM_write_X509(file, identity.cert) == 1;
  std::fclose(file);
  return ok;
}

class TlsPeer : public ScriptServer::Peer {
 public:
  explicit TlsPeer(SSL* ssl) : ssl_(ssl) {}
  ~TlsPeer() override { SSL_free(ssl_); }
  bool Send(const std::string& bytes) override {
    size_t at = 0;
    while (at < bytes.size()) {
      if (stopping->load()) return false;
      const int sent = SSL_write(ssl_, bytes.data() + at, int(bytes.size() - at));
      if (sent <= 0) return false;
      at += size_t(sent);
    }
    return true;
  }

 private:
  SSL* ssl_;
};

// ScriptServer's Wrap for a TLS server presenting `identity`.
inline ScriptServer::Wrap Server(const Identity& identity) {
  std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  SSL_CTX_use_certificate(context.get(), identity.cert);
  SSL_CTX_use_PrivateKey(context.get(), identity.key);
  return [context](int fd, std::string* request) -> std::unique_ptr<ScriptServer::Peer> {
    // Reads wait a little at a time, so a stopping server is not held up.
    const timeval step{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &step, sizeof step);
    SSL* ssl = SSL_new(context.get());
    SSL_set_fd(ssl, fd);
    int tries = 0;
    int rc = 0;
    while ((rc = SSL_accept(ssl)) != 1 && ++tries < 50) {
      const int why = SSL_get_error(ssl, rc);
      if (why != SSL_ERROR_WANT_READ && why != SSL_ERROR_SYSCALL) break;
    }
    ERR_clear_error();
    if (rc != 1) {
      SSL_free(ssl);
      return nullptr;
    }
    auto peer = std::make_unique<TlsPeer>(ssl);
    std::atomic<bool> never{false};
    int quiet = 0;
    const auto read = [&](char* c, int n) -> int {
      const int got = SSL_read(ssl, c, n);
      if (got > 0) return got;
      return ++quiet > 50 ? -1 : 0;
    };
    if (!ScriptServer::ReadHead(read, request, never)) return nullptr;
    return peer;
  };
}

}  // namespace tls_peer
