// A live broadcast over rtmp from ffmpeg listening on the loopback
// interface: it plays, its length is unknown and reads as such on the
// control bar, the player knows it is live and says so in the file's
// report, and nothing local is opened for it.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "engine/mpv_library.h"
#include "player/mpv_player.h"
#include "player/player_probe.h"
#include "player_ui/player_controls.h"
#include "player_ui/player_overlay.h"
#include "support/playback_watch.h"
#include "support/test_support.h"

namespace {

// Whether something listens on 127.0.0.1:`port`, read from the kernel's
// table: connecting to ask would take ffmpeg's only connection.
bool Listening(quint16 port) {
  const QByteArray local =
      QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
  for (const QByteArray& line :
       testsupport::ReadFile(QStringLiteral("/proc/net/tcp")).split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() > 3 && fields[1] == local && fields[3] == "0A") return true;
  }
  return false;
}

// The regular files this process has open.
QSet<QString> OpenFiles() {
  QSet<QString> files;
  const QDir fds(QStringLiteral("/proc/self/fd"));
  for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
    const QString target = QFile::symLinkTarget(fds.filePath(fd));
    if (!target.startsWith(QLatin1String("/dev/")) && QFileInfo(target).isFile()) {
      files.insert(target);
    }
  }
  return files;
}

}  // namespace

class TestLiveStream : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString clip_;  // 30 s of 320x240 colour bars with sound, served in real time
  QProcess server_;
  QString address_;
  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;

 private slots:
  void initTestCase() {
    QVERIFY2(mpv_library::Available(), qPrintable(mpv_library::Error()));
    QVERIFY(dir_.isValid());
    clip_ = testsupport::MakeFlv(dir_.path(), QStringLiteral("broadcast.flv"),
                                 {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=15", "-f",
                                  "lavfi", "-i", "sine=sample_rate=22050", "-t", "30", "-c:v",
                                  "flv1", "-g", "15", "-c:a", "libmp3lame", "-ac", "1"});
    QVERIFY(!clip_.isEmpty());
  }

  void init() {
    quint16 port = 0;
    {
      QTcpServer probe;
      QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
      port = probe.serverPort();
    }
    address_ = QStringLiteral("rtmp://127.0.0.1:%1/live/s").arg(port);
    server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server_.start(QStringLiteral("ffmpeg"),
                  {"-hide_banner", "-loglevel", "error", "-nostdin", "-re", "-i", clip_, "-c",
                   "copy", "-f", "flv", "-listen", "1", address_});
    QVERIFY(server_.waitForStarted(5000));
    QVERIFY(playback::WaitUntil([&] { return Listening(port); }, 10000));
    player_ = testsupport::ShowPlayerIn(host_);
    QVERIFY(player_);
    // The bar stays up, so that its time keeps following.
    PlayerProbe::Overlay(*player_).SetHideDelay(600000);
  }

  void cleanup() {
    host_.reset();
    if (server_.state() != QProcess::NotRunning) {
      server_.kill();
      server_.waitForFinished(5000);
    }
  }

  void playsAsALiveStreamWithNoLength() {
    const QSet<QString> before = OpenFiles();
    QSet<QString> opened;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] { opened += OpenFiles() - before; });
    sampler.start(20);

    playback::Watch watch;
    watch.boundMs = 15000;
    watch.advance = 2;
    watch.expectVideo = true;
    const playback::Outcome out = playback::PlayAndWatch(*player_, address_, watch);
    qInfo("%s", qPrintable(out.Describe()));
    QVERIFY2(out.Plays() && out.advanced >= 2 && out.frames > 0, qPrintable(out.Describe()));
    QCOMPARE(out.videoSize, QSize(320, 240));
    const PlaybackState& state = player_->State();
    QCOMPARE(state.duration(), 0.0);
    sampler.stop();
    // For a network address the player reads nothing local but its own
    // player movie, which every play loads afresh.
    opened.remove(QStringLiteral(TIBROK_RUNTIME_DIR "/player.n"));
    QVERIFY2(opened.isEmpty(), qPrintable(QStringList(opened.values()).join(", ")));

    const QString time = PlayerProbe::Overlay(*player_).Controls()->TimeLabel()->text();
    QVERIFY2(time.endsWith(QLatin1String(" / --:--")), qPrintable(time));
    QVERIFY(state.live());
    QVERIFY2(state.fileReport().contains(QLatin1String("live"), Qt::CaseInsensitive),
             qPrintable(state.fileReport()));
  }
};

QTEST_MAIN(TestLiveStream)
#include "test_live_stream.moc"
