#include "support/test_support.h"

#include <fcntl.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "player/mpv_player.h"

namespace testsupport {

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

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int OpenReadOnly(const QString& path) {
  return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
}

QString WriteFile(const QString& path, const QByteArray& data) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) return {};
  return path;
}

MpvPlayer* ShowPlayerIn(std::unique_ptr<QWidget>& host, QSize size) {
  host = std::make_unique<QWidget>();
  host->resize(size);
  auto* player = new MpvPlayer(host.get());
  player->SetAudioOutput(QStringLiteral("null"));
  player->resize(size);
  host->show();
  return QTest::qWaitForWindowExposed(host.get()) ? player : nullptr;
}

}  // namespace testsupport
