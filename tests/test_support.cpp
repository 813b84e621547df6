#include "test_support.h"

#include <QDir>
#include <QProcess>

namespace testsupport {

QString CorpusFile(const QString& name) { return QDir(TIBROK_CORPUS_DIR).absoluteFilePath(name); }

QString MakeFlv(const QString& dir, const QString& name, const QStringList& ffmpegArgs) {
  const QString out = QDir(dir).absoluteFilePath(name);
  QProcess ffmpeg;
  QStringList args{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
  args << ffmpegArgs << out;
  ffmpeg.start("ffmpeg", args);
  if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
      ffmpeg.exitCode() != 0) {
    qWarning("ffmpeg failed: %s", ffmpeg.readAllStandardError().constData());
    return {};
  }
  return out;
}

}  // namespace testsupport
