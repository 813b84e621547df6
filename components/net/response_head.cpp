#include "net/response_head.h"

#include <algorithm>
#include <cctype>

namespace net {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Up to 18 digits: no value the client meets is larger, and none overflows.
bool Number(std::string_view text, int64_t* value) {
  if (text.empty() || text.size() > 18) return false;
  int64_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  *value = n;
  return true;
}

}  // namespace

size_t HeadEnd(std::string_view bytes, size_t from) {
  for (size_t at = from > 3 ? from - 3 : 0; at < bytes.size(); ++at) {
    if (bytes[at] != '\n') continue;
    if (at + 1 < bytes.size() && bytes[at + 1] == '\n') return at + 2;
    if (at + 2 < bytes.size() && bytes[at + 1] == '\r' && bytes[at + 2] == '\n') return at + 3;
  }
  return std::string_view::npos;
}

bool ParseHead(std::string_view head, ResponseHead* out, std::string* error) {
  *out = {};
  size_t lineEnd = head.find('\n');
  const std::string_view status = Trim(head.substr(0, lineEnd));
  // "HTTP/1.1 206 Partial Content"
  if (status.size() < 12 || status.substr(0, 5) != "HTTP/" || status[8] != ' ' ||
      !std::isdigit(static_cast<unsigned char>(status[9])) ||
      !std::isdigit(static_cast<unsigned char>(status[10])) ||
      !std::isdigit(static_cast<unsigned char>(status[11]))) {
    *error = "the server's answer is not HTTP";
    return false;
  }
  out->status = (status[9] - '0') * 100 + (status[10] - '0') * 10 + (status[11] - '0');
  out->reason = std::string(Trim(status.substr(12)));
  while (lineEnd != std::string_view::npos) {
    const size_t start = lineEnd + 1;
    lineEnd = head.find('\n', start);
    const std::string_view line = head.substr(start, lineEnd - start);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (SameWord(name, "Content-Length")) {
      int64_t length = 0;
      if (!Number(value, &length) || (out->contentLength >= 0 && out->contentLength != length)) {
        *error = "the server's answer gives no valid length";
        return false;
      }
      out->contentLength = length;
    } else if (SameWord(name, "Transfer-Encoding")) {
      // Only chunked is known; it must come last, and anything else is refused.
      const size_t comma = value.rfind(',');
      const std::string_view last =
          Trim(comma == std::string_view::npos ? value : value.substr(comma + 1));
      if (!SameWord(last, "chunked") || comma != std::string_view::npos) {
        *error = "the server sent it in an encoding the player does not read";
        return false;
      }
      out->chunked = true;
    } else if (SameWord(name, "Location")) {
      out->location = std::string(value);
    } else if (SameWord(name, "Content-Range")) {
      out->contentRange = std::string(value);
    } else if (SameWord(name, "Content-Encoding")) {
      out->contentEncoding = std::string(value);
    } else if (SameWord(name, "Accept-Ranges")) {
      out->acceptRanges = std::string(value);
    }
  }
  // A chunked body's length is its chunks'.
  if (out->chunked) out->contentLength = -1;
  return true;
}

bool ParseContentRange(std::string_view value, int64_t* first, int64_t* last, int64_t* total) {
  value = Trim(value);
  if (value.size() < 6 || !SameWord(value.substr(0, 5), "bytes")) return false;
  value = Trim(value.substr(5));
  const size_t dash = value.find('-');
  const size_t slash = value.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
    return false;
  }
  int64_t a = 0, b = 0, size = 0;
  if (!Number(Trim(value.substr(0, dash)), &a) ||
      !Number(Trim(value.substr(dash + 1, slash - dash - 1)), &b) ||
      !Number(Trim(value.substr(slash + 1)), &size) || a > b || b >= size) {
    return false;
  }
  *first = a;
  *last = b;
  *total = size;
  return true;
}

}  // namespace net
