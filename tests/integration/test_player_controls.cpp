// The player movie's controls and indicators with the real engine behind
// them: keys and the seek bar move real playback, replay restarts a file
// that ended, and what the engine says about buffering, sound-only files and
// undecodable streams reaches the screen. The interface on its own, on a
// state set by hand, is test_player_ui.
#include <QAccessible>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QSignalSpy>
#include <QSlider>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtEndian>
#include <QtTest>
#include <cmath>
#include <functional>
#include <memory>

#include "media/movie.h"
#include "player/mpv_player.h"
#include "player/player_probe.h"
#include "player_ui/playback_time.h"
#include "player_ui/player_controls.h"
#include "player_ui/player_input.h"
#include "player_ui/player_overlay.h"
#include "player_ui/seek_bar.h"
#include "support/test_support.h"

namespace {

const QString kMovies = QStringLiteral(TIBROK_SOURCE_DIR "/assets/movies/");
const QString kPlayerMovie = kMovies + "player.n";
const QString kStillMovie = kMovies + "player22.swf";

// Calls `edit` with the type and the offset of the body of each tag of an
// FLV in `data`; returns how many tags there were.
int ForEachTag(const QByteArray& data, const std::function<void(int, qsizetype)>& edit) {
  if (data.size() < 13) return 0;
  qsizetype at = qFromBigEndian<quint32>(data.constData() + 5) + 4;
  int tags = 0;
  while (at + 11 < data.size()) {
    const quint32 size = qFromBigEndian<quint32>(data.constData() + at) & 0xffffff;
    edit(data[at] & 0x1f, at + 11);
    ++tags;
    at += 11 + size + 4;
  }
  return tags;
}

// Rewrites the SoundFormat of every audio tag to 14 (MP3 8 kHz), a codec
// that this FFmpeg cannot decode.
QByteArray WithUndecodableAudio(QByteArray data) {
  ForEachTag(data, [&](int type, qsizetype body) {
    if (type == 8) data[body] = char((data[body] & 0x0f) | (14 << 4));
  });
  return data;
}

// Turns the metadata tags into padding of an unknown kind, which readers
// skip: what remains says nothing of the duration, as in a live stream.
QByteArray WithoutMetadata(QByteArray data) {
  ForEachTag(data, [&](int type, qsizetype body) {
    if (type == 18) data[body - 11] = char(0x1f);
  });
  return data;
}

// Serves one file over HTTP to every connection, with or without a length
// (a live stream has none): `first` bytes at once, then after `pauseMs` the
// rest in pieces of `piece` bytes every 100 ms.
class SlowServer : public QObject {
 public:
  SlowServer(QByteArray data, bool withLength, qsizetype first, int pauseMs, qsizetype piece)
      : data_(std::move(data)),
        withLength_(withLength),
        first_(first),
        pauseMs_(pauseMs),
        piece_(piece) {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) Serve(socket);
    });
  }
  bool Listen() { return server_.listen(QHostAddress::LocalHost); }
  QString Url(const QString& name) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(server_.serverPort()).arg(name);
  }

 private:
  void Serve(QTcpSocket* socket) {
    socket->setParent(this);
    QByteArray head = "HTTP/1.0 200 OK\r\nContent-Type: video/x-flv\r\n";
    if (withLength_) head += "Content-Length: " + QByteArray::number(data_.size()) + "\r\n";
    socket->write(head + "\r\n" + data_.left(first_));
    QTimer::singleShot(pauseMs_, socket, [this, socket] { SendFrom(socket, first_); });
  }

  void SendFrom(QTcpSocket* socket, qsizetype at) {
    if (at >= data_.size()) {
      socket->disconnectFromHost();
      return;
    }
    socket->write(data_.mid(at, piece_));
    QTimer::singleShot(100, socket, [this, socket, at] { SendFrom(socket, at + piece_); });
  }

  QTcpServer server_;
  QByteArray data_;
  bool withLength_;
  qsizetype first_;
  int pauseMs_;
  qsizetype piece_;
};

}  // namespace

class TestPlayerControls : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString video_;      // 320x240 colour bars with MP3 sound, 8 s
  QString shortClip_;  // 320x240 colour bars, 1 s
  QString sound_;      // MP3 sound only, 3 s
  QString badAudio_;   // video_ with audio that cannot be decoded

  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;
  PlayerOverlay* overlay_ = nullptr;
  PlayerControls* controls_ = nullptr;

  void Play(const QString& address) {
    player_->LoadMovie(0, kPlayerMovie);
    player_->SetVariable(QStringLiteral("myuri"), address);
  }

  // Plays `address` until it has moved on from its first frames.
  void PlayAndWait(const QString& address) {
    bool loaded = false;
    const QMetaObject::Connection c =
        connect(&player_->State(), &PlaybackState::fileLoaded, this, [&] { loaded = true; });
    Play(address);
    QTRY_VERIFY_WITH_TIMEOUT(
        loaded && player_->State().hasFile() && player_->State().position() > 0.1, 10000);
    disconnect(c);
  }

  void LoadMovie(const QString& path) {
    QSignalSpy loaded(player_, &MpvPlayer::movieLoaded);
    player_->LoadMovie(0, path);
    QVERIFY(loaded.wait(5000));
  }

  // Waits for the engine to confirm a seek; returns where it landed.
  double SeekAndWait(const std::function<void()>& seek) {
    QSignalSpy seeked(&player_->State(), &PlaybackState::seeked);
    seek();
    if (!seeked.wait(5000)) return -1;
    return seeked.last().at(0).toDouble();
  }

  // Light pixels in a band of the player area's picture.
  int LightPixels(const QRect& band) {
    const QImage shot = player_->grab().toImage();
    int light = 0;
    for (int y = band.top(); y <= band.bottom(); ++y) {
      for (int x = band.left(); x <= band.right(); ++x) light += qGray(shot.pixel(x, y)) > 160;
    }
    return light;
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    using testsupport::MakeFlv;
    video_ = MakeFlv(dir_.path(), "video.flv",
                     {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
                      "sine=sample_rate=22050", "-t", "8", "-c:v", "flv1", "-c:a", "libmp3lame"});
    shortClip_ =
        MakeFlv(dir_.path(), "short.flv",
                {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-t", "1", "-c:v", "flv1"});
    sound_ =
        MakeFlv(dir_.path(), "sound.flv",
                {"-f", "lavfi", "-i", "sine=sample_rate=22050", "-t", "3", "-c:a", "libmp3lame"});
    QVERIFY(!video_.isEmpty() && !shortClip_.isEmpty() && !sound_.isEmpty());
    badAudio_ = testsupport::WriteFile(dir_.filePath("mp3_8khz.flv"),
                                       WithUndecodableAudio(testsupport::ReadFile(video_)));
    QVERIFY(!badAudio_.isEmpty());
  }

  void init() {
    host_ = std::make_unique<QWidget>();
    host_->resize(400, 300);
    player_ = new MpvPlayer(host_.get());
    player_->SetAudioOutput(QStringLiteral("null"));
    player_->setGeometry(0, 0, 320, 240);
    // As the program does: a dropped address plays through the player movie.
    connect(player_, &MpvPlayer::openRequested, player_,
            [this](const QString& address) { Play(address); });
    overlay_ = player_->findChild<PlayerOverlay*>();
    QVERIFY(overlay_);
    controls_ = overlay_->Controls();
    host_->show();
    QVERIFY(QTest::qWaitForWindowExposed(host_.get()));
  }

  void cleanup() { host_.reset(); }

  void keysDrivePlaybackVolumeAndMute() {
    PlayAndWait(video_);
    QTest::keyClick(player_, Qt::Key_Space);
    QTRY_VERIFY(player_->State().paused());
    QCOMPARE(controls_->PlayPauseButton()->accessibleName(), QStringLiteral("Play"));
    QTest::keyClick(player_, Qt::Key_Space);
    QTRY_VERIFY(!player_->State().paused());
    QCOMPARE(controls_->PlayPauseButton()->accessibleName(), QStringLiteral("Pause"));

    QTest::keyClick(player_, Qt::Key_Space);
    QTRY_VERIFY(player_->State().paused());
    const double start = player_->State().position();
    const double ahead = SeekAndWait([&] { QTest::keyClick(player_, Qt::Key_Right); });
    QVERIFY2(std::abs(ahead - (start + 5)) < 0.2, qPrintable(QString::number(ahead)));
    const double back = SeekAndWait([&] { QTest::keyClick(player_, Qt::Key_Left); });
    QVERIFY2(std::abs(back - start) < 0.2, qPrintable(QString::number(back)));
    SeekAndWait([&] { QTest::keyClick(player_, Qt::Key_Right); });
    const double home = SeekAndWait([&] { QTest::keyClick(player_, Qt::Key_Home); });
    QVERIFY2(home < 0.1, qPrintable(QString::number(home)));
    // A seek while paused stays paused.
    QVERIFY(player_->State().paused());

    // The engine's own volume, not just the widget's idea of it.
    QCOMPARE(player_->State().volume(), 100.0);
    QTest::keyClick(player_, Qt::Key_Up);  // already the loudest
    QTest::keyClick(player_, Qt::Key_Down);
    QTest::keyClick(player_, Qt::Key_Down);
    QCOMPARE(player_->State().volume(), 90.0);
    QTRY_COMPARE(PlayerProbe::EngineProperty(*player_, "volume").toDouble(), 90.0);
    QCOMPARE(controls_->VolumeSlider()->value(), 90);
    QTest::keyClick(player_, Qt::Key_Up);
    QTRY_COMPARE(PlayerProbe::EngineProperty(*player_, "volume").toDouble(), 95.0);

    QTest::keyClick(player_, Qt::Key_M);
    QTRY_COMPARE(PlayerProbe::EngineProperty(*player_, "mute"), QStringLiteral("yes"));
    QVERIFY(controls_->MuteButton()->isChecked());
    QCOMPARE(player_->State().volume(), 95.0);
    QTest::keyClick(player_, Qt::Key_M);
    QTRY_COMPARE(PlayerProbe::EngineProperty(*player_, "mute"), QStringLiteral("no"));
    QVERIFY(!controls_->MuteButton()->isChecked());

    // Keys with modifiers are the window's shortcuts, not the player's.
    QTest::keyClick(player_, Qt::Key_M, Qt::ControlModifier);
    QTest::qWait(100);
    QVERIFY(!player_->State().muted());
  }

  void seekBarSeeksWhereClicked() {
    PlayAndWait(video_);
    player_->Commands().Pause();
    QTRY_VERIFY(player_->State().paused());
    SeekBar* bar = controls_->Seek();
    QTRY_VERIFY(bar->Duration() > 7.5);
    // Three quarters along the track (the handle's radius trims each end).
    const int x = 5 + (bar->width() - 10) * 3 / 4;
    const double landed = SeekAndWait(
        [&] { QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x, bar->height() / 2)); });
    QVERIFY2(std::abs(landed - 0.75 * player_->State().duration()) < 0.3,
             qPrintable(QString::number(landed)));
    QTRY_VERIFY(controls_->TimeLabel()->text().startsWith(FormatPlaybackTime(landed, false)));
  }

  void endKeepsTheLastFrameAndReplayRestarts() {
    PlayAndWait(shortClip_);
    QTRY_VERIFY_WITH_TIMEOUT(player_->State().endReached(), 10000);
    QVERIFY(overlay_->ControlsVisible());
    QVERIFY(overlay_->ReplayVisible());
    // The colour bars are still up.
    const QImage last = player_->grab().toImage();
    QVERIFY(qGray(last.pixel(180, 20)) > 150);  // the yellow bar
    QTRY_VERIFY(controls_->TimeLabel()->text().endsWith(QLatin1String("/ 0:01")));

    QTest::mouseClick(overlay_->ReplayButton(), Qt::LeftButton);
    QTRY_VERIFY(!player_->State().endReached() && !player_->State().paused());
    QVERIFY(player_->State().position() < 0.9);
    QVERIFY(!overlay_->ReplayVisible());

    // Space at the end restarts as well.
    QTRY_VERIFY_WITH_TIMEOUT(player_->State().endReached(), 10000);
    QTest::keyClick(player_, Qt::Key_Space);
    QTRY_VERIFY(!player_->State().endReached() && !player_->State().paused());
    QVERIFY(player_->State().position() < 0.9);
  }

  void soundOnlyFileShowsTheAudioOnlyScreenWithControls() {
    PlayAndWait(video_);
    QVERIFY(!player_->State().audioOnly());
    PlayAndWait(sound_);
    QTRY_VERIFY(player_->State().audioOnly());
    QVERIFY(player_->State().videoSize().isEmpty());
    QVERIFY(overlay_->ControlsVisible());
    // On the black stage: a light note, "Audio only" and the file's name.
    QVERIFY(LightPixels(QRect(120, 30, 80, 80)) > 50);
    QVERIFY(LightPixels(QRect(40, 120, 240, 60)) > 50);
    QTRY_VERIFY(controls_->TimeLabel()->text().endsWith(QLatin1String("/ 0:03")));
    // With no picture to uncover, the bar stays.
    QTest::qWait(PlayerOverlay::kHideDelayMs + 300);
    QVERIFY(overlay_->ControlsVisible());
  }

  void undecodableAudioIsNoticedWhileTheVideoPlays() {
    PlayAndWait(badAudio_);
    QTRY_VERIFY(overlay_->Notice().startsWith(QLatin1String("Audio could not be decoded")));
    QCOMPARE(player_->State().decodeProblem(), overlay_->Notice());
    // The picture goes on, and it is not taken for a sound-only file.
    const int frames = PlayerProbe::FramesRendered(*player_);
    const double at = player_->State().position();
    QTRY_VERIFY(PlayerProbe::FramesRendered(*player_) > frames + 5 &&
                player_->State().position() > at + 0.3);
    QVERIFY(!player_->State().audioOnly());
    QCOMPARE(player_->State().videoSize(), QSize(320, 240));
    // Painted along the top, over the picture.
    QImage layer(player_->size(), QImage::Format_RGB32);
    layer.fill(Qt::black);
    {
      QPainter painter(&layer);
      overlay_->Paint(painter);
    }
    int light = 0;
    for (int y = 8; y < 30; ++y) {
      for (int x = 0; x < layer.width(); ++x) light += qGray(layer.pixel(x, y)) > 160;
    }
    QVERIFY(light > 50);

    // The next file starts without it.
    PlayAndWait(video_);
    QVERIFY(overlay_->Notice().isEmpty());
    QVERIFY(player_->State().decodeProblem().isEmpty());
  }

  void networkStreamShowsBufferingAndItsBufferedPart() {
    const QByteArray data = testsupport::ReadFile(video_);
    // Two seconds' worth at once, then nothing for a while, then the rest.
    SlowServer server(data, true, data.size() / 4, 2500, data.size());
    QVERIFY(server.Listen());
    QStringList seen;
    const QMetaObject::Connection watch =
        connect(&player_->State(), &PlaybackState::bufferingChanged, this, [&] {
          if (!overlay_->BufferingText().isEmpty()) seen << overlay_->BufferingText();
        });
    Play(server.Url("video.flv"));
    QTRY_VERIFY_WITH_TIMEOUT(player_->State().buffering(), 10000);
    QVERIFY(overlay_->ControlsVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!player_->State().buffering(), 10000);
    disconnect(watch);
    QVERIFY(!seen.isEmpty());
    const QRegularExpression shape(QStringLiteral("^Buffering\u2026 \\d{1,3}%$"));
    for (const QString& text : seen) QVERIFY2(shape.match(text).hasMatch(), qPrintable(text));
    QTRY_VERIFY(!player_->State().bufferedRanges().isEmpty());
    QCOMPARE(controls_->Seek()->Buffered(), player_->State().bufferedRanges());
    // Its header gives the length, which stays known.
    QTRY_VERIFY(player_->State().bufferedRanges().constLast().second > 7);
    QVERIFY(std::abs(player_->State().duration() - 8) < 0.2);
    QTRY_VERIFY(controls_->TimeLabel()->text().endsWith(QLatin1String("/ 0:08")));
  }

  void liveStreamWithoutLengthShowsDashes() {
    // A second's worth at once, then about as fast as it plays.
    const QByteArray data = WithoutMetadata(testsupport::ReadFile(video_));
    SlowServer server(data, false, data.size() / 8, 0, data.size() / 80);
    QVERIFY(server.Listen());
    Play(server.Url("live.flv"));
    QTRY_VERIFY_WITH_TIMEOUT(player_->State().hasFile() && player_->State().position() > 0.3,
                             10000);
    QTRY_COMPARE(player_->State().duration(), 0.0);
    QVERIFY2(controls_->TimeLabel()->text().endsWith(QLatin1String("/ --:--")),
             qPrintable(controls_->TimeLabel()->text()));
    QCOMPARE(controls_->Seek()->Duration(), 0.0);
  }
};

QTEST_MAIN(TestPlayerControls)
#include "test_player_controls.moc"
