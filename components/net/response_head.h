#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// An HTTP/1.x answer's status line and the headers the client acts on. Pure
// functions over bytes already received; the caller bounds how many.
namespace net {

struct ResponseHead {
  int status = 0;
  std::string reason;
  int64_t contentLength = -1;  // -1: not given
  bool chunked = false;
  std::string location;
  std::string contentRange;
  std::string contentEncoding;
  std::string acceptRanges;
};

// Where the head in `bytes` ends (just past its blank line), looking no
// earlier than `from` minus three bytes: a head that comes a byte at a time
// is then searched once, not once a byte. std::string_view::npos while
// it has not ended.
size_t HeadEnd(std::string_view bytes, size_t from = 0);

// A complete head. False, with `error` in words, for one that is not HTTP
// or contradicts itself (two different lengths, a length that is no number).
bool ParseHead(std::string_view head, ResponseHead* out, std::string* error);

// "bytes FIRST-LAST/TOTAL" with all three known and FIRST <= LAST < TOTAL.
bool ParseContentRange(std::string_view value, int64_t* first, int64_t* last, int64_t* total);

}  // namespace net
