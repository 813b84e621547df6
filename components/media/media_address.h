#pragma once

#include <QByteArray>
#include <QString>

// Which addresses the player plays, decided once: every other piece asks the
// answer instead of guessing from the text again. The engine would otherwise
// accept every protocol it knows, some of which run filters, read file
// descriptors or load shared libraries.
namespace media_address {

enum class Kind {
  kLocalFile,  // a file on this computer, opened by the player itself
  kNetwork,    // http(s) or the rtmp family, opened by the engine
  kRefused,    // nothing is played; `reason` says why
};

enum class Protocol { kNone, kHttp, kRtmp };

struct Address {
  Kind kind = Kind::kRefused;
  // The address as received, without the surrounding quotes: what messages
  // quote back to the user.
  QString shown;
  // kLocalFile: the absolute path, as the exact bytes of the file's name.
  QByteArray path;
  // kNetwork: the URL, fully percent-encoded, and its protocol family.
  QString url;
  Protocol protocol = Protocol::kNone;
  // kRefused: why, in words for the player area.
  QString reason;

  bool IsLocal() const { return kind == Kind::kLocalFile; }
  bool IsNetwork() const { return kind == Kind::kNetwork; }
  bool IsRefused() const { return kind == Kind::kRefused; }
  // A URL for the desktop: file:// for a local file.
  QString Url() const;
  // What to call the video: its file name, not its folder.
  QString Title() const;
};

// Longest URLs the engine's protocols take whole; longer ones would be cut
// to a different address without a word, so they are refused instead.
inline constexpr int kMaxHttpUrlBytes = 4000;
inline constexpr int kMaxRtmpUrlBytes = 1000;

// `raw` is the address as received: one pair of surrounding double quotes is
// taken off (a shell or a file association adds them). Accepted:
// - local paths, made absolute against `baseDir`, so that nothing in them
//   ("-", "C:foo", "x://y") can be read as an option or a protocol;
// - file:// URLs naming this computer; percent escapes are decoded to the
//   bytes of the name before it is judged, and a name that then holds a
//   control character (%00, %0A, ...) is refused;
// - http, https and the rtmp family (rtmp, rtmps, rtmpe, rtmpt, rtmpte,
//   rtmpts), percent-encoded.
// Every other "scheme://" address is refused, as is a NUL anywhere. A name
// that is not valid UTF-8 keeps its bytes (path_bytes.h).
Address Resolve(const QString& raw, const QString& baseDir);

}  // namespace media_address
