#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "net/cancel.h"
#include "net/chunked.h"
#include "net/limits.h"
#include "net/progress_guard.h"
#include "net/socket.h"

// The player's HTTP/1.1 client: one GET per connection, blocking, on any
// thread. The promises: every wait has a deadline (limits.h) and ends
// within kCancelPollMs of a cancel; memory is bounded whatever the server
// sends; https is verified (tls.h); redirects are followed within http and
// https only, at most Limits::maxRedirects of them, and the address that
// finally answered is told. Nothing else is sent or kept: no cookies, no
// cache, no credentials, no compression (Accept-Encoding: identity), and
// no proxy (the proxy variables of the environment are not read).
// A failure is told in words that finish "Cannot play "x": ...".
namespace net {

struct Request {
  std::string url;
  int64_t from = -1;    // >= 0: "Range: bytes=FROM-"
  int64_t suffix = -1;  // > 0: "Range: bytes=-SUFFIX", the last bytes
  // Body bytes received, added to as they come (shared with whoever shows
  // progress); may be null.
  std::shared_ptr<std::atomic<int64_t>> received;
};

struct Response {
  int status = 0;   // 2xx: others are failures
  std::string url;  // the address that answered, after redirects
  int redirects = 0;
  int64_t length = -1;  // body bytes to come; -1 unknown (chunked, or until the end)
  bool ranges = false;  // a 206, or "Accept-Ranges: bytes"
  // A 206's Content-Range; -1 when there is none or it is not understood.
  int64_t rangeFirst = -1;
  int64_t rangeLast = -1;
  int64_t totalSize = -1;
};

class Connection {
 public:
  Connection(std::unique_ptr<Transport> transport, Response response, std::string bodyStart,
             bool chunked, const Limits& limits, Cancel cancel,
             std::shared_ptr<std::atomic<int64_t>> received);

  const Response& response() const { return response_; }
  // Up to `size` body bytes: > 0 as soon as some came, 0 at the body's end,
  // -1 on a failure (Error() says why, Cancelled() whether it was asked for).
  int64_t Read(char* buffer, int64_t size);
  const std::string& Error() const { return error_; }
  bool Cancelled() const { return cancel_->Cancelled(); }
  int64_t BodyBytes() const { return bodyBytes_; }

 private:
  int64_t Fail(const std::string& error);
  int64_t Fill();

  std::unique_ptr<Transport> transport_;
  Response response_;
  std::string raw_;  // received, not yet decoded: at most kRawBytes
  size_t rawAt_ = 0;
  bool chunked_;
  ChunkedDecoder decoder_;
  int64_t left_;  // identity with a length: body bytes still to come
  bool ended_ = false;
  bool failed_ = false;
  Limits limits_;
  Cancel cancel_;
  ProgressGuard guard_;
  std::shared_ptr<std::atomic<int64_t>> received_;
  int64_t bodyBytes_ = 0;
  std::string error_;
};

struct Opened {
  std::unique_ptr<Connection> connection;  // null on failure
  std::string error;
  bool cancelled = false;
  // Where the failure happened, for the information view ("" when nowhere
  // new): the last address redirected to.
  std::string url;
};

Opened Open(const Request& request, const Limits& limits, Cancel cancel);

// How long, in words: "10 seconds".
std::string Seconds(int ms);

}  // namespace net
