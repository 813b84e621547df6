#pragma once

#include <QString>

// Which addresses the player movie plays, and what it hands the engine for
// them. The engine would otherwise accept every protocol it knows, some of
// which run filters, read file descriptors or load shared libraries.
namespace media_address {

struct Resolution {
  QString target;  // what to pass to "loadfile"; empty when refused
  QString error;   // why the address is refused, in words for the player area
  bool ok() const { return !target.isEmpty(); }
};

// `raw` is the address as received: one pair of surrounding double quotes is
// taken off (a shell or a file association adds them). Accepted:
// - local paths, made absolute against `baseDir`, so that nothing in them
//   ("-", "C:foo", "x://y") can be read as an option or a protocol;
// - file:// URLs naming this computer, turned into absolute paths;
// - http, https and the rtmp family (rtmp, rtmps, rtmpe, rtmpt, rtmpte,
//   rtmpts), percent-encoded.
// Every other "scheme://" address is refused.
Resolution Resolve(const QString& raw, const QString& baseDir);

}  // namespace media_address
