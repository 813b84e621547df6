#include "net/http_client.h"

#include <algorithm>
#include <cstring>

#include "net/response_head.h"

namespace net {
namespace {

constexpr size_t kRawBytes = size_t{64} << 10;

std::string RequestText(const Url& url, const Request& request) {
  std::string text = "GET " + url.target + " HTTP/1.1\r\nHost: " + url.HostHeader() +
                     "\r\nUser-Agent: TibrokFlvPlayer/1.0\r\nAccept: */*\r\n"
                     "Accept-Encoding: identity\r\nConnection: close\r\n";
  if (request.suffix > 0) {
    text += "Range: bytes=-" + std::to_string(request.suffix) + "\r\n";
  } else if (request.from >= 0) {
    text += "Range: bytes=" + std::to_string(request.from) + "-\r\n";
  }
  return text + "\r\n";
}

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct Head {
  ResponseHead head;
  std::string rest;  // body bytes that came with it
};

// Reads the final head (interim 1xx ones are skipped), all of them within
// the header limits.
bool ReadHead(Transport& transport, const Limits& limits, const CancelFlag& cancel, Head* out,
              std::string* error, bool* cancelled) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(limits.headersMs);
  std::string bytes;
  size_t scanned = 0;
  int64_t total = 0;
  char chunk[4096];
  for (;;) {
    const size_t end = HeadEnd(bytes, scanned);
    scanned = bytes.size();
    if (end != std::string::npos) {
      if (!ParseHead(std::string_view(bytes).substr(0, end), &out->head, error)) return false;
      bytes.erase(0, end);
      scanned = 0;
      if (out->head.status >= 100 && out->head.status < 200) continue;
      out->rest = std::move(bytes);
      return true;
    }
    const int64_t room = limits.headerBytes + 1 - total;
    if (room <= 0) {
      *error = "the server sent more than " + std::to_string(limits.headerBytes >> 10) +
               " KiB of headers";
      return false;
    }
    const IoResult got =
        transport.Read(chunk, std::min<int64_t>(room, sizeof chunk), deadline, cancel);
    if (got.status == Io::kOk) {
      bytes.append(chunk, size_t(got.bytes));
      total += got.bytes;
      continue;
    }
    *cancelled = got.status == Io::kCancelled;
    if (got.status == Io::kTimeout) {
      *error = total == 0
                   ? "the server did not answer within " + Seconds(limits.headersMs)
                   : "the server did not finish its headers within " + Seconds(limits.headersMs);
    } else if (got.status == Io::kEnd) {
      *error = "the server closed the connection without an answer";
    } else if (got.status == Io::kError) {
      *error = transport.Error();
    } else {
      *error = "cancelled";
    }
    return false;
  }
}

}  // namespace

std::string Seconds(int ms) {
  const int seconds = (ms + 999) / 1000;
  return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

Connection::Connection(std::unique_ptr<Transport> transport, Response response,
                       std::string bodyStart, bool chunked, const Limits& limits, Cancel cancel,
                       std::shared_ptr<std::atomic<int64_t>> received)
    : transport_(std::move(transport)),
      response_(std::move(response)),
      raw_(std::move(bodyStart)),
      chunked_(chunked),
      left_(response_.length),
      limits_(limits),
      cancel_(std::move(cancel)),
      guard_(limits.minWindowBytes, limits.windowMs),
      received_(std::move(received)) {
  raw_.reserve(kRawBytes);
  if (!chunked_ && left_ == 0) ended_ = true;
}

int64_t Connection::Fail(const std::string& error) {
  if (!failed_) error_ = cancel_->Cancelled() ? "cancelled" : error;
  failed_ = true;
  transport_.reset();
  return -1;
}

// More bytes from the server into raw_: > 0 for some, 0 at the end, -1 on
// a failure.
int64_t Connection::Fill() {
  if (rawAt_ == raw_.size()) {
    raw_.clear();
    rawAt_ = 0;
  }
  if (raw_.size() >= kRawBytes) return 1;
  const size_t room = kRawBytes - raw_.size();
  const size_t had = raw_.size();
  raw_.resize(kRawBytes);
  const auto started = Clock::now();
  const IoResult got =
      transport_->Read(raw_.data() + had, int64_t(room),
                       started + std::chrono::milliseconds(limits_.silenceMs), *cancel_);
  raw_.resize(had + size_t(std::max<int64_t>(got.bytes, 0)));
  guard_.Waited(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
  switch (got.status) {
    case Io::kOk:
      return got.bytes;
    case Io::kEnd:
      return 0;
    case Io::kTimeout:
      return Fail(bodyBytes_ == 0 ? "the server sent no media within " + Seconds(limits_.silenceMs)
                                  : "the server sent nothing for " + Seconds(limits_.silenceMs));
    case Io::kCancelled:
      return Fail("cancelled");
    case Io::kError:
      return Fail(transport_->Error());
  }
  return Fail("the connection failed");
}

int64_t Connection::Read(char* buffer, int64_t size) {
  if (failed_) return -1;
  if (cancel_->Cancelled()) return Fail("cancelled");
  while (size > 0 && !ended_) {
    int64_t produced = 0;
    if (rawAt_ < raw_.size()) {
      const char* in = raw_.data() + rawAt_;
      const size_t inSize = raw_.size() - rawAt_;
      if (chunked_) {
        size_t used = 0;
        produced = int64_t(decoder_.Decode(in, inSize, buffer, size_t(size), &used));
        rawAt_ += used;
        if (decoder_.Failed()) return Fail("the server's chunked answer is malformed");
        if (decoder_.Done()) ended_ = true;
      } else {
        produced = std::min<int64_t>(int64_t(inSize), size);
        if (left_ >= 0) produced = std::min(produced, left_);
        std::memcpy(buffer, in, size_t(produced));
        rawAt_ += size_t(produced);
        if (left_ >= 0 && (left_ -= produced) == 0) ended_ = true;
      }
    }
    if (produced > 0) {
      bodyBytes_ += produced;
      if (received_) *received_ += produced;
      guard_.Received(produced);
      return produced;
    }
    if (ended_) break;
    if (guard_.Starved()) {
      return Fail("the server sent only " + std::to_string(guard_.BytesInWindow()) + " bytes in " +
                  Seconds(limits_.windowMs));
    }
    const int64_t got = Fill();
    if (got < 0) return -1;
    if (got == 0) {
      // The end of the connection ends a body of unknown length only.
      if (chunked_ || left_ > 0) return Fail("the server closed the connection early");
      ended_ = true;
    }
  }
  if (ended_) transport_.reset();
  return 0;
}

Opened Open(const Request& request, const Limits& limits, Cancel cancel) {
  Opened result;
  std::optional<Url> url = ParseUrl(request.url);
  if (!url) {
    result.error = "it is not an http(s) address the player can use";
    return result;
  }
  for (int redirects = 0;; ++redirects) {
    Connected connected = Connect(*url, limits.connectMs, *cancel);
    if (!connected.transport) {
      result.cancelled = connected.cancelled;
      result.error = connected.timedOut
                         ? "the server did not answer within " + Seconds(limits.connectMs)
                         : connected.error;
      return result;
    }
    const std::string text = RequestText(*url, request);
    const Io sent = connected.transport->Write(
        text.data(), int64_t(text.size()),
        Clock::now() + std::chrono::milliseconds(limits.connectMs), *cancel);
    if (sent != Io::kOk) {
      result.cancelled = sent == Io::kCancelled;
      result.error = sent == Io::kTimeout
                         ? "the server did not answer within " + Seconds(limits.connectMs)
                         : connected.transport->Error();
      return result;
    }
    Head head;
    if (!ReadHead(*connected.transport, limits, *cancel, &head, &result.error, &result.cancelled)) {
      return result;
    }
    const ResponseHead& h = head.head;
    if (IsRedirect(h.status) && !h.location.empty()) {
      bool otherScheme = false;
      const std::optional<Url> next = ResolveLocation(*url, h.location, &otherScheme);
      if (!next) {
        result.error = otherScheme ? "it redirects to an address that is not http(s)"
                                   : "it redirects to an address the player cannot use";
        return result;
      }
      if (redirects == limits.maxRedirects) {
        result.error = "it redirects more than " + std::to_string(limits.maxRedirects) + " times";
        return result;
      }
      url = next;
      result.url = url->Text();
      continue;
    }
    if (h.status < 200 || h.status > 299) {
      result.error = "the server answered " + std::to_string(h.status) +
                     (h.reason.empty() ? "" : " " + h.reason.substr(0, 100));
      return result;
    }
    if (!h.contentEncoding.empty() && h.contentEncoding != "identity") {
      result.error = "the server sent it compressed, though asked not to";
      return result;
    }
    Response response;
    response.status = h.status;
    response.url = url->Text();
    response.redirects = redirects;
    response.length = h.contentLength;
    response.ranges = h.status == 206 || h.acceptRanges == "bytes";
    if (h.status == 206) {
      int64_t first = 0, last = 0, total = 0;
      if (ParseContentRange(h.contentRange, &first, &last, &total)) {
        response.rangeFirst = first;
        response.rangeLast = last;
        response.totalSize = total;
        // The part named is all that is read, whatever follows it.
        if (h.contentLength >= 0 && h.contentLength != last - first + 1) {
          result.error = "the server's answer gives two different lengths";
          return result;
        }
        if (!h.chunked) response.length = last - first + 1;
      }
    }
    result.connection =
        std::make_unique<Connection>(std::move(connected.transport), response, std::move(head.rest),
                                     h.chunked, limits, cancel, request.received);
    return result;
  }
}

}  // namespace net
