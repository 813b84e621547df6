#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "net/http_client.h"

// An http(s) resource read like a file, for a reader that reads on and now
// and then seeks (the engine's demuxer). A server that does ranges is read
// from wherever the reader goes, one request per jump (a short jump ahead
// reads through instead); one that does not is read once, from its start,
// as a live stream: only its first bytes, kept, can be read again. Every
// request follows the client's rules (http_client.h). Read, Seek and
// Position belong to one reader thread at a time; the rest may be used
// from any thread.
namespace net {

class HttpFile {
 public:
  // Bytes from the start that are kept, to be read again (after the
  // player's look at the start, the engine's probe) and looked at.
  static constexpr int64_t kHeadBytes = int64_t{256} << 10;
  // A jump ahead this short is read through on the same connection (as
  // FFmpeg's own readers do): longer ones cost more on a slow server than
  // a new request.
  static constexpr int64_t kReadThrough = int64_t{32} << 10;

  // Opens `url` from its start. Null on failure, with `opened`'s error
  // (and `opened.url`, where a redirect went before the failure).
  static std::unique_ptr<HttpFile> Open(const std::string& url, const Limits& limits, Cancel cancel,
                                        Opened* failure);

  // Up to `size` bytes from Position(): > 0, 0 at the end, -1 on a failure.
  int64_t Read(char* buffer, int64_t size);
  // False when the reader cannot go there (a live stream past its kept start).
  bool Seek(int64_t offset);
  int64_t Position() const { return position_; }

  int64_t Size() const { return size_; }  // -1: unknown (a live stream, or chunked)
  bool Seekable() const { return ranges_ && size_ >= 0; }
  const std::string& Url() const { return url_; }  // after redirects
  int Redirects() const { return redirects_; }
  std::string Error() const;
  bool Failed() const { return failed_; }
  // Media bytes received so far, over every request.
  int64_t Received() const { return *received_; }
  // Requests made so far, the first included.
  int64_t Requests() const { return requests_; }
  // The first bytes, as many as have come (at most kHeadBytes).
  std::string Head() const;
  void Cancel() { cancel_->Cancel(); }

 private:
  HttpFile(std::unique_ptr<Connection> connection, Limits limits, net::Cancel cancel,
           std::shared_ptr<std::atomic<int64_t>> received);
  int64_t Fail(const std::string& error);
  bool Reopen();

  std::unique_ptr<Connection> connection_;
  Limits limits_;
  net::Cancel cancel_;
  std::shared_ptr<std::atomic<int64_t>> received_;
  std::string url_;
  int redirects_ = 0;
  std::atomic<int64_t> requests_{1};
  int64_t size_ = -1;
  bool ranges_ = false;
  int64_t position_ = 0;
  int64_t connectionAt_ = 0;  // the offset the connection's next byte has
  std::atomic<bool> failed_{false};
  mutable std::mutex mutex_;  // for what other threads read: the error, the head
  std::string error_;
  std::string head_;
};

}  // namespace net
