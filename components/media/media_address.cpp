#include "media/media_address.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <algorithm>

#include "media/path_bytes.h"

namespace media_address {
namespace {

Address Refuse(const QString& shown, const QString& why) {
  Address address;
  address.shown = shown;
  address.reason = why;
  return address;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX escapes to the bytes they stand for; a '%' that starts no escape is
// kept as it is.
QByteArray PercentDecode(const QByteArray& text) {
  QByteArray bytes;
  bytes.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      bytes.append(char(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      bytes.append(text[i]);
    }
  }
  return bytes;
}

bool HasControlByte(const QByteArray& bytes) {
  return std::any_of(bytes.begin(), bytes.end(),
                     [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7f; });
}

// "file://host/path?query#fragment" with the part after "file://" given. The
// name is decoded by hand: a URL decoder that makes text of it would turn
// bytes that are not UTF-8 into replacement characters.
Address ResolveFileUrl(const QString& shown, const QString& afterScheme) {
  const qsizetype slash = afterScheme.indexOf(u'/');
  const QString host = slash < 0 ? afterScheme : afterScheme.left(slash);
  if (!(host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)) {
    return Refuse(shown, QStringLiteral("only file addresses on this computer can be played"));
  }
  QString rest = slash < 0 ? QString() : afterScheme.mid(slash);
  const qsizetype end = rest.indexOf(QRegularExpression(QStringLiteral("[?#]")));
  if (end >= 0) rest.truncate(end);
  const QByteArray path = PercentDecode(path_bytes::Encode(rest));
  if (path.isEmpty() || path == "/" || !path.startsWith('/')) {
    return Refuse(shown, QStringLiteral("the file address names no file"));
  }
  if (HasControlByte(path)) {
    return Refuse(shown, QStringLiteral("the file address holds a control character"));
  }
  Address address;
  address.kind = Kind::kLocalFile;
  address.shown = shown;
  address.path = path;
  return address;
}

}  // namespace

QString Address::Url() const {
  switch (kind) {
    case Kind::kLocalFile: {
      // Each byte outside the unreserved set as %XX: names need not be text.
      return QString::fromLatin1(path.toPercentEncoding("/").prepend("file://"));
    }
    case Kind::kNetwork:
      return url;
    case Kind::kRefused:
      break;
  }
  return {};
}

QString Address::Title() const {
  QString name;
  if (kind == Kind::kLocalFile) {
    name = path_bytes::Decode(path.mid(path.lastIndexOf('/') + 1));
  } else if (kind == Kind::kNetwork) {
    name = QUrl(url).fileName();
  }
  return name.isEmpty() ? shown : name;
}

Address Resolve(const QString& raw, const QString& baseDir) {
  QString shown = raw;
  if (shown.size() >= 2 && shown.startsWith(u'"') && shown.endsWith(u'"')) {
    shown = shown.mid(1, shown.size() - 2);
  }
  if (shown.isEmpty()) return Refuse(shown, QStringLiteral("no video address was given"));
  // File names and the engine's strings end at a NUL: what follows would
  // silently vanish.
  if (shown.contains(QChar(u'\0'))) {
    return Refuse(shown, QStringLiteral("the address contains a NUL character"));
  }

  // RFC 3986 scheme syntax, as the engine itself recognises protocols. A
  // single letter is a Windows drive ("C://dir/file.flv"), not a scheme.
  static const QRegularExpression kScheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]+)://"));
  const QRegularExpressionMatch match = kScheme.match(shown);
  if (!match.hasMatch()) {
    Address address;
    address.kind = Kind::kLocalFile;
    address.shown = shown;
    address.path = path_bytes::Encode(QDir(baseDir).absoluteFilePath(shown));
    return address;
  }

  const QString scheme = match.captured(1).toLower();
  if (scheme == QLatin1String("file")) return ResolveFileUrl(shown, shown.mid(match.capturedEnd()));

  static const QStringList kRtmp{QStringLiteral("rtmp"),   QStringLiteral("rtmps"),
                                 QStringLiteral("rtmpe"),  QStringLiteral("rtmpt"),
                                 QStringLiteral("rtmpte"), QStringLiteral("rtmpts")};
  const bool http = scheme == QLatin1String("http") || scheme == QLatin1String("https");
  if (!http && !kRtmp.contains(scheme)) {
    return Refuse(shown,
                  QStringLiteral("addresses starting with \"%1://\" are not allowed").arg(scheme));
  }
  const QUrl url(shown, QUrl::TolerantMode);
  if (!url.isValid() || url.host().isEmpty()) {
    return Refuse(shown, QStringLiteral("the network address is not valid"));
  }
  Address address;
  address.kind = Kind::kNetwork;
  address.shown = shown;
  // Fully encoded, a space can no longer split off extra stream options
  // after the URL, and servers get the request line they expect.
  address.url = url.toString(QUrl::FullyEncoded);
  address.protocol = http ? Protocol::kHttp : Protocol::kRtmp;
  const int limit = http ? kMaxHttpUrlBytes : kMaxRtmpUrlBytes;
  if (address.url.size() > limit) {
    return Refuse(shown, QStringLiteral("the address is longer than the %1 characters the player "
                                        "can send")
                             .arg(limit));
  }
  return address;
}

}  // namespace media_address
