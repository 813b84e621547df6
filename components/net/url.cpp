#include "net/url.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

namespace net {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

// Bytes that may stand in a request target as they are. Anything above
// 0x7e (a server's Location in another encoding) is percent-encoded; a
// control or a space is refused: it would end the request line.
std::optional<std::string> CleanTarget(const std::string& target) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : target) {
    if (c <= 0x20 || c == 0x7f) return std::nullopt;
    if (c > 0x7e) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

// The scheme of `text`, lower-cased, when it starts with one ("x:").
std::optional<std::string> SchemeOf(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return std::nullopt;
  for (size_t i = 0; i < colon; ++i) {
    const unsigned char c = text[i];
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
  }
  return Lower(text.substr(0, colon));
}

// "dir/../x" and "./" taken out of an absolute path, as a browser would.
std::string RemoveDots(const std::string& path) {
  std::string out;
  size_t at = 0;
  while (at < path.size()) {
    size_t next = path.find('/', at + 1);
    if (next == std::string::npos) next = path.size();
    const std::string segment = path.substr(at, next - at);  // with its leading '/'
    if (segment == "/." || (segment == "/.." && next == path.size())) {
      if (segment == "/..") {
        const size_t slash = out.rfind('/');
        out.erase(slash == std::string::npos ? 0 : slash);
      }
      out += '/';
    } else if (segment == "/..") {
      const size_t slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
    } else {
      out += segment;
    }
    at = next;
  }
  return out.empty() ? "/" : out;
}

}  // namespace

std::string Url::Text() const {
  std::string text = https ? "https://" : "http://";
  text += HostHeader();
  return text + target;
}

std::string Url::HostHeader() const {
  std::string text = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != (https ? 443 : 80)) text += ":" + std::to_string(port);
  return text;
}

bool Url::HostIsAddress() const {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
         inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

std::optional<Url> ParseUrl(const std::string& text) {
  const std::optional<std::string> scheme = SchemeOf(text);
  if (!scheme || (*scheme != "http" && *scheme != "https")) return std::nullopt;
  Url url;
  url.https = *scheme == "https";
  size_t at = scheme->size() + 1;
  if (text.compare(at, 2, "//") != 0) return std::nullopt;
  at += 2;
  size_t end = text.find_first_of("/?#", at);
  if (end == std::string::npos) end = text.size();
  std::string authority = text.substr(at, end - at);
  // Credentials in the address are not sent anywhere.
  if (const size_t userinfo = authority.rfind('@'); userinfo != std::string::npos) {
    authority.erase(0, userinfo + 1);
  }
  std::string portText;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return std::nullopt;
    url.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return std::nullopt;
      portText = authority.substr(close + 2);
    }
  } else {
    const size_t colon = authority.find(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string::npos) portText = authority.substr(colon + 1);
  }
  url.host = Lower(url.host);
  if (url.host.empty()) return std::nullopt;
  for (const unsigned char c : url.host) {
    if (!std::isalnum(c) && c != '.' && c != '-' && c != '_' && c != ':' && c != '%') {
      return std::nullopt;
    }
  }
  url.port = url.https ? 443 : 80;
  if (!portText.empty()) {
    if (portText.size() > 5) return std::nullopt;
    int port = 0;
    for (const unsigned char c : portText) {
      if (!std::isdigit(c)) return std::nullopt;
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    url.port = port;
  }
  std::string target = text.substr(end);
  target.erase(std::min(target.find('#'), target.size()));
  if (target.empty() || target[0] == '?') target.insert(0, "/");
  const std::optional<std::string> clean = CleanTarget(target);
  if (!clean) return std::nullopt;
  url.target = *clean;
  return url;
}

std::optional<Url> ResolveLocation(const Url& base, const std::string& location,
                                   bool* otherScheme) {
  *otherScheme = false;
  std::string trimmed = location;
  while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) trimmed.pop_back();
  while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t')) {
    trimmed.erase(0, 1);
  }
  if (trimmed.empty()) return std::nullopt;
  if (const std::optional<std::string> scheme = SchemeOf(trimmed)) {
    if (*scheme != "http" && *scheme != "https") {
      *otherScheme = true;
      return std::nullopt;
    }
    return ParseUrl(trimmed);
  }
  if (trimmed.compare(0, 2, "//") == 0) {
    return ParseUrl(std::string(base.https ? "https:" : "http:") + trimmed);
  }
  std::string path;
  if (trimmed[0] == '/') {
    path = trimmed;
  } else if (trimmed[0] == '?') {
    path = base.target.substr(0, base.target.find('?')) + trimmed;
  } else {
    const std::string basePath = base.target.substr(0, base.target.find('?'));
    path = basePath.substr(0, basePath.rfind('/') + 1) + trimmed;
  }
  path.erase(std::min(path.find('#'), path.size()));
  const size_t query = path.find('?');
  const std::string cleanPath = RemoveDots(path.substr(0, query));
  const std::optional<std::string> target =
      CleanTarget(cleanPath + (query == std::string::npos ? "" : path.substr(query)));
  if (!target) return std::nullopt;
  Url url = base;
  url.target = *target;
  return url;
}

}  // namespace net
