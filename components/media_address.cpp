#include "media_address.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace media_address {
namespace {

Resolution Refuse(const QString& why) { return Resolution{{}, why}; }

}  // namespace

Resolution Resolve(const QString& raw, const QString& baseDir) {
  QString address = raw;
  if (address.size() >= 2 && address.startsWith(u'"') && address.endsWith(u'"')) {
    address = address.mid(1, address.size() - 2);
  }
  if (address.isEmpty()) return Refuse(QStringLiteral("no video address was given"));
  // The engine takes C strings: everything after a NUL would silently vanish.
  if (address.contains(QChar(u'\0'))) {
    return Refuse(QStringLiteral("the address contains a NUL character"));
  }

  // RFC 3986 scheme syntax, as the engine itself recognises protocols. A
  // single letter is a Windows drive ("C://dir/file.flv"), not a scheme.
  static const QRegularExpression kScheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]+)://"));
  const QRegularExpressionMatch match = kScheme.match(address);
  if (!match.hasMatch()) {
    return Resolution{QDir(baseDir).absoluteFilePath(address), {}};
  }

  const QString scheme = match.captured(1).toLower();
  if (scheme == QLatin1String("file")) {
    QUrl url(address);
    const QString host = url.host().toLower();
    if (!url.isValid() || !(host.isEmpty() || host == QLatin1String("localhost"))) {
      return Refuse(QStringLiteral("only file addresses on this computer can be played"));
    }
    // Qt would keep "localhost" as a network share name in the path.
    url.setHost(QString());
    const QString path = url.toLocalFile();
    if (path.isEmpty() || QDir::isRelativePath(path)) {
      return Refuse(QStringLiteral("the file address names no file"));
    }
    return Resolution{path, {}};
  }

  static const QStringList kNetwork{QStringLiteral("http"),   QStringLiteral("https"),
                                    QStringLiteral("rtmp"),   QStringLiteral("rtmps"),
                                    QStringLiteral("rtmpe"),  QStringLiteral("rtmpt"),
                                    QStringLiteral("rtmpte"), QStringLiteral("rtmpts")};
  if (!kNetwork.contains(scheme)) {
    return Refuse(QStringLiteral("addresses starting with \"%1://\" are not allowed").arg(scheme));
  }
  const QUrl url(address, QUrl::TolerantMode);
  if (!url.isValid() || url.host().isEmpty()) {
    return Refuse(QStringLiteral("the network address is not valid"));
  }
  // Fully encoded, a space can no longer split off extra stream options
  // after the URL, and servers get the request line they expect.
  return Resolution{url.toString(QUrl::FullyEncoded), {}};
}

}  // namespace media_address
