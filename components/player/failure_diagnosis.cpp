#include "player/failure_diagnosis.h"

#include <QList>
#include <QRegularExpression>

#include "engine/engine_options.h"

namespace {

// The part of an engine log line that names the cause: "Cannot open file
// 'x': No such file or directory" gives "No such file or directory".
QString CauseOf(const QString& logLine) {
  QString line = logLine.trimmed();
  // The message adds its own full stop.
  while (line.endsWith(u'.')) line.chop(1);
  const qsizetype colon = line.lastIndexOf(QLatin1String(": "));
  const QString cause = colon < 0 ? line : line.mid(colon + 2);
  return cause.isEmpty() ? line : cause;
}

}  // namespace

void FailureDiagnosis::Begin() {
  collecting_ = true;
  failed_ = false;
  cause_.clear();
}

void FailureDiagnosis::FileStarted() { cause_.clear(); }

void FailureDiagnosis::Opened() { collecting_ = false; }

void FailureDiagnosis::Stop() { collecting_ = false; }

void FailureDiagnosis::Failed() { failed_ = true; }

bool FailureDiagnosis::Note(const engine::LogLine& line) {
  // Only the parts that open files and streams say why opening failed;
  // demuxer and decoder complaints are usually about the file before.
  static const QList<QByteArray> kOpeners{"file", "stream", "ffmpeg", "cplayer"};
  if (!line.error || !collecting_ || !cause_.isEmpty() || !kOpeners.contains(line.part)) {
    return false;
  }
  cause_ = CauseOf(line.text);
  return failed_;
}

QString FailureDiagnosis::Cause(const Evidence& evidence) const {
  // A server that accepts the connection and then says nothing leaves only a
  // generic line in the log, worded differently by each protocol ("Failed
  // to open", "Cannot read RTMP handshake response"); the time it took is
  // what the user needs to know.
  if (evidence.networkWaitMs >= (engine_options::kNetworkTimeoutSeconds - 1) * 1000) {
    return QStringLiteral("the server did not answer within %1 seconds")
        .arg(engine_options::kNetworkTimeoutSeconds);
  }
  if (!evidence.pictureTooLarge.isEmpty()) return PictureTooLargeCause(evidence.pictureTooLarge);
  // The player's own reading of a local FLV knows better than "failed to
  // recognize file format".
  if (!evidence.readerFinding.isEmpty()) return evidence.readerFinding;
  return cause_.isEmpty() ? evidence.engineError : cause_;
}

QString FailureDiagnosis::CannotPlay(const QString& shown, const QString& cause) {
  return QStringLiteral("Cannot play \"%1\": %2.").arg(shown, cause);
}

QString FailureDiagnosis::PictureTooLarge(const engine::LogLine& line) {
  static const QRegularExpression kTooLarge(
      QStringLiteral("Picture size (\\d+x\\d+) exceeds specified max pixel count"));
  if (!line.error) return {};
  const QRegularExpressionMatch big = kTooLarge.match(line.text);
  return big.hasMatch() ? big.captured(1) : QString();
}

QString FailureDiagnosis::PictureTooLargeCause(const QString& size) {
  return QStringLiteral("its picture is %1 pixels, larger than the %2 the player decodes")
      .arg(size, QLatin1String(engine_options::kMaxPictureText));
}

char FailureDiagnosis::DecoderFailed(const engine::LogLine& line) {
  // A stream whose decoder cannot start is left out and the rest plays; the
  // engine says so only in its audio ("ad") or video ("vd") decoder's log.
  if (!line.error || !line.text.startsWith(QLatin1String("Failed to initialize a decoder"))) {
    return 0;
  }
  if (line.part == "ad") return 'a';
  if (line.part == "vd") return 'v';
  return 0;
}
