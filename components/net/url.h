#pragma once

#include <optional>
#include <string>

// http and https addresses as the client needs them: where to connect and
// what to ask for. The text is taken as already percent-encoded (the player
// encodes what the user gives); anything that could split a request line or
// a header (controls, spaces) is refused, never passed on.
namespace net {

struct Url {
  bool https = false;
  std::string host;  // without brackets for IPv6
  int port = 0;
  std::string target;  // path and query, "/" at least; no fragment

  // "http://host:port/target", brackets put back for IPv6.
  std::string Text() const;
  // The Host header's value: the port only when it is not the default.
  std::string HostHeader() const;
  bool HostIsAddress() const;  // an IPv4 or IPv6 literal, not a name
};

// Null for anything but an absolute http(s) address with a host.
std::optional<Url> ParseUrl(const std::string& text);

// Where a redirect's Location leads from `base`: absolute, scheme-relative,
// absolute-path or relative references. `otherScheme` is set, and nothing
// returned, when it names a scheme other than http(s).
std::optional<Url> ResolveLocation(const Url& base, const std::string& location, bool* otherScheme);

}  // namespace net
