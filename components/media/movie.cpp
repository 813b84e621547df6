#include "media/movie.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

namespace movie {
namespace {

constexpr auto kFormatName = "tibrok-movie";
constexpr int kVersion = 1;
constexpr qsizetype kMaxTextLength = 1000;

Result Fail(const QString& why) { return Result{std::nullopt, why}; }

// Accepts only "#RRGGBB": QColor's own parser also takes colour names and
// other forms that we do not want to promise in the format.
std::optional<QColor> ParseColour(const QJsonValue& value) {
  static const QRegularExpression kHex(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
  if (!value.isString() || !kHex.match(value.toString()).hasMatch()) return std::nullopt;
  return QColor::fromRgb(value.toString().mid(1).toUInt(nullptr, 16));
}

}  // namespace

Result Parse(const QByteArray& data) {
  QByteArray json = data;
  // Editors on Windows like to start UTF-8 files with a byte-order mark.
  if (json.startsWith("\xEF\xBB\xBF")) json.remove(0, 3);

  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
  if (parseError.error != QJsonParseError::NoError) {
    return Fail(QStringLiteral("not a movie file (not valid JSON: %1 at byte %2)")
                    .arg(parseError.errorString())
                    .arg(parseError.offset));
  }
  if (!doc.isObject()) return Fail(QStringLiteral("not a movie file (not a JSON object)"));
  const QJsonObject root = doc.object();

  static const QStringList kKeys{QStringLiteral("format"),   QStringLiteral("version"),
                                 QStringLiteral("kind"),     QStringLiteral("background"),
                                 QStringLiteral("text"),     QStringLiteral("textColor"),
                                 QStringLiteral("controls"), QStringLiteral("accentColor")};
  // Unknown keys are refused so that a misspelt key is reported instead of
  // silently falling back to a default.
  for (const QString& key : root.keys()) {
    if (!kKeys.contains(key)) return Fail(QStringLiteral("unknown key \"%1\"").arg(key));
  }

  if (root.value(QStringLiteral("format")) != QJsonValue(QLatin1String(kFormatName))) {
    return Fail(QStringLiteral("not a movie file (\"format\" must be \"%1\")").arg(kFormatName));
  }

  const QJsonValue version = root.value(QStringLiteral("version"));
  if (!version.isDouble() || version.toDouble() != version.toInt()) {
    return Fail(QStringLiteral("\"version\" must be a whole number"));
  }
  if (version.toInt() != kVersion) {
    return Fail(QStringLiteral("movie version %1 is not supported (this player reads version %2)")
                    .arg(version.toInt())
                    .arg(kVersion));
  }

  Movie m;
  const QString kind = root.value(QStringLiteral("kind")).toString();
  if (kind == QLatin1String("player")) {
    m.kind = Kind::kPlayer;
  } else if (kind == QLatin1String("still")) {
    m.kind = Kind::kStill;
  } else {
    return Fail(QStringLiteral("\"kind\" must be \"player\" or \"still\""));
  }

  if (root.contains(QStringLiteral("background"))) {
    const QJsonValue bg = root.value(QStringLiteral("background"));
    if (bg != QJsonValue(QStringLiteral("transparent"))) {
      m.background = ParseColour(bg);
      if (!m.background) {
        return Fail(QStringLiteral("\"background\" must be \"#RRGGBB\" or \"transparent\""));
      }
    }
  }

  if (root.contains(QStringLiteral("textColor"))) {
    const std::optional<QColor> colour = ParseColour(root.value(QStringLiteral("textColor")));
    if (!colour) return Fail(QStringLiteral("\"textColor\" must be \"#RRGGBB\""));
    m.textColor = *colour;
  }

  if (root.contains(QStringLiteral("text"))) {
    // A player movie's area belongs to the video and to messages about it.
    if (m.kind != Kind::kStill) return Fail(QStringLiteral("\"text\" is only for still movies"));
    const QJsonValue text = root.value(QStringLiteral("text"));
    if (!text.isString()) return Fail(QStringLiteral("\"text\" must be a string"));
    if (text.toString().size() > kMaxTextLength) {
      return Fail(QStringLiteral("\"text\" is longer than %1 characters").arg(kMaxTextLength));
    }
    m.text = text.toString();
  }

  if (root.contains(QStringLiteral("controls"))) {
    // A still movie plays nothing that controls could act on.
    if (m.kind != Kind::kPlayer) {
      return Fail(QStringLiteral("\"controls\" is only for player movies"));
    }
    const QJsonValue controls = root.value(QStringLiteral("controls"));
    if (!controls.isBool()) return Fail(QStringLiteral("\"controls\" must be true or false"));
    m.controls = controls.toBool();
  }

  if (root.contains(QStringLiteral("accentColor"))) {
    if (m.kind != Kind::kPlayer) {
      return Fail(QStringLiteral("\"accentColor\" is only for player movies"));
    }
    const std::optional<QColor> colour = ParseColour(root.value(QStringLiteral("accentColor")));
    if (!colour) return Fail(QStringLiteral("\"accentColor\" must be \"#RRGGBB\""));
    m.accentColor = *colour;
  }

  return Result{m, {}};
}

Result ReadFile(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) return Fail(QStringLiteral("file not found"));
  // Directories, devices and pipes are refused before opening: a pipe would
  // block the read forever.
  if (!info.isFile()) return Fail(QStringLiteral("not a regular file"));
  if (info.size() > kMaxFileBytes) {
    return Fail(QStringLiteral("file is larger than %1 KiB").arg(kMaxFileBytes / 1024));
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return Fail(QStringLiteral("cannot read the file (%1)").arg(file.errorString()));
  }
  // The file may have grown since it was measured.
  const QByteArray data = file.read(kMaxFileBytes + 1);
  if (data.size() > kMaxFileBytes) {
    return Fail(QStringLiteral("file is larger than %1 KiB").arg(kMaxFileBytes / 1024));
  }
  return Parse(data);
}

}  // namespace movie
