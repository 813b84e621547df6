#include "net/http_file.h"

#include <algorithm>
#include <cstring>

namespace net {

HttpFile::HttpFile(std::unique_ptr<Connection> connection, Limits limits, net::Cancel cancel,
                   std::shared_ptr<std::atomic<int64_t>> received)
    : connection_(std::move(connection)),
      limits_(limits),
      cancel_(std::move(cancel)),
      received_(std::move(received)) {
  const Response& response = connection_->response();
  url_ = response.url;
  redirects_ = response.redirects;
  ranges_ = response.ranges;
  size_ = response.status == 206 ? response.totalSize : response.length;
}

std::unique_ptr<HttpFile> HttpFile::Open(const std::string& url, const Limits& limits,
                                         net::Cancel cancel, Opened* failure) {
  Request request;
  request.url = url;
  // Asked from the start as a range: a 206 says at once that the server
  // does ranges, and how large the file is.
  request.from = 0;
  request.received = std::make_shared<std::atomic<int64_t>>(0);
  Opened opened = net::Open(request, limits, cancel);
  if (!opened.connection) {
    *failure = std::move(opened);
    return nullptr;
  }
  const Response& response = opened.connection->response();
  if (response.status == 206 && response.rangeFirst != 0) {
    failure->error = "the server answered with another part of the file than its start";
    failure->url = response.url;
    return nullptr;
  }
  if (response.status != 200 && response.status != 206) {
    failure->error = "the server answered " + std::to_string(response.status) + " with no video";
    failure->url = response.url;
    return nullptr;
  }
  return std::unique_ptr<HttpFile>(
      new HttpFile(std::move(opened.connection), limits, std::move(cancel), request.received));
}

std::string HttpFile::Head() const {
  const std::lock_guard lock(mutex_);
  return head_;
}

std::string HttpFile::Error() const {
  const std::lock_guard lock(mutex_);
  return error_;
}

int64_t HttpFile::Fail(const std::string& error) {
  {
    const std::lock_guard lock(mutex_);
    if (!failed_) error_ = error;
  }
  failed_ = true;
  connection_.reset();
  return -1;
}

bool HttpFile::Seek(int64_t offset) {
  if (offset < 0 || failed_) return false;
  int64_t kept = 0;
  {
    const std::lock_guard lock(mutex_);
    kept = int64_t(head_.size());
  }
  // A live stream: back into its kept start while the connection has not
  // gone past it, or where the connection is anyway.
  if (!Seekable() && !(offset <= kept && connectionAt_ == kept) && offset != connectionAt_) {
    return false;
  }
  position_ = offset;
  return true;
}

bool HttpFile::Reopen() {
  connection_.reset();
  Request request;
  request.url = url_;
  request.from = position_;
  request.received = received_;
  ++requests_;
  Opened opened = net::Open(request, limits_, cancel_);
  if (!opened.connection) {
    Fail(opened.error);
    return false;
  }
  const Response& response = opened.connection->response();
  // Exactly the part asked for, of the same file.
  const bool fits = response.status == 206 ? response.rangeFirst == position_ &&
                                                 (size_ < 0 || response.totalSize == size_)
                                           : position_ == 0;
  if (!fits) {
    Fail("the server did not send the part of the file asked for");
    return false;
  }
  connection_ = std::move(opened.connection);
  connectionAt_ = position_;
  return true;
}

int64_t HttpFile::Read(char* buffer, int64_t size) {
  if (failed_) return -1;
  if (size <= 0) return 0;
  {
    const std::lock_guard lock(mutex_);
    if (position_ < int64_t(head_.size())) {
      const int64_t n = std::min(size, int64_t(head_.size()) - position_);
      std::memcpy(buffer, head_.data() + position_, size_t(n));
      position_ += n;
      return n;
    }
  }
  if (size_ >= 0 && position_ >= size_) return 0;
  if (connection_ && position_ > connectionAt_ && position_ - connectionAt_ <= kReadThrough) {
    // Read through to a place a little ahead rather than ask again.
    char skip[16384];
    while (connectionAt_ < position_) {
      const int64_t got =
          connection_->Read(skip, std::min<int64_t>(sizeof skip, position_ - connectionAt_));
      if (got <= 0) return got < 0 ? Fail(connection_->Error()) : 0;
      connectionAt_ += got;
    }
  }
  if (!connection_ || connectionAt_ != position_) {
    if (!Seekable()) return Fail("the server cannot be read from another place than its start");
    if (!Reopen()) return -1;
  }
  const int64_t got = connection_->Read(buffer, size);
  if (got < 0) return Fail(connection_->Error());
  if (got == 0) return 0;
  if (connectionAt_ < kHeadBytes) {
    const std::lock_guard lock(mutex_);
    if (int64_t(head_.size()) == connectionAt_) {
      head_.append(buffer, size_t(std::min(got, kHeadBytes - connectionAt_)));
    }
  }
  connectionAt_ += got;
  position_ += got;
  return got;
}

}  // namespace net
