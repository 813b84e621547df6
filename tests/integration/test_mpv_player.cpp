// The player component on libmpv: sizing, movies, addresses and playback,
// with videos made by ffmpeg at test time and a few corpus files.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <limits>
#include <memory>

#include "media/media_address.h"
#include "player/mpv_player.h"
#include "player/picture_layout.h"
#include "player/player_probe.h"
#include "support/playback_watch.h"
#include "support/test_support.h"

namespace {

const QString kMovies = QStringLiteral(TIBROK_SOURCE_DIR "/assets/movies/");
const QString kPlayerMovie = kMovies + "player.n";
const QString kInterimMovie = kMovies + "player22.swf";

// Video goes through lossy codecs and scaling: colours are compared loosely.
bool IsNear(QRgb pixel, QColor expected, int tolerance = 40) {
  return std::abs(qRed(pixel) - expected.red()) <= tolerance &&
         std::abs(qGreen(pixel) - expected.green()) <= tolerance &&
         std::abs(qBlue(pixel) - expected.blue()) <= tolerance;
}

#define VERIFY_PIXEL(image, x, y, colour)                 \
  QVERIFY2(IsNear((image).pixel(x, y), colour),           \
           qPrintable(QStringLiteral("pixel %1,%2 is %3") \
                          .arg(x)                         \
                          .arg(y)                         \
                          .arg(QColor((image).pixel(x, y)).name())))

}  // namespace

class TestMpvPlayer : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString testsrc_;     // 320x240 moving colour bars with MP3 sound, 3 s
  QString blueWide_;    // 480x120 blue with AAC sound, 3 s
  QString shortClip_;   // 160x120 colour bars, under a second
  QString alpha_;       // 64x48 fully transparent red (PNG in QuickTime)
  QString blackFrame_;  // 160x120, one black frame

  // The main window's white client area with the player in its top-left corner.
  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;

  void Resize(int w, int h) {
    const double perPixel = 1440.0 / player_->logicalDpiX();
    player_->SetWidth(float(w * perPixel));
    player_->SetHeight(float(h * perPixel));
  }

  void LoadAndWait(int layer, const QString& movie) {
    QSignalSpy loaded(player_, &MpvPlayer::movieLoaded);
    player_->LoadMovie(layer, movie);
    QVERIFY(loaded.wait(5000));
  }

  // The program's way to play an address: the player movie, then "myuri".
  void Play(const QString& address) {
    player_->LoadMovie(0, kPlayerMovie);
    player_->SetVariable(QStringLiteral("myuri"), address);
  }

  // Plays `address` and waits for `count` of its own frames: frames of the
  // file it replaces may still arrive after the call.
  void PlayAndWait(const QString& address, int count) {
    int atLoad = -1;
    const QMetaObject::Connection c =
        connect(&player_->State(), &PlaybackState::fileLoaded, this,
                [&] { atLoad = PlayerProbe::FramesRendered(*player_); });
    Play(address);
    QTRY_VERIFY_WITH_TIMEOUT(atLoad >= 0 && PlayerProbe::FramesRendered(*player_) >= atLoad + count,
                             10000);
    disconnect(c);
  }

  void WaitForFrames(int count) {
    const int target = PlayerProbe::FramesRendered(*player_) + count;
    QTRY_VERIFY_WITH_TIMEOUT(PlayerProbe::FramesRendered(*player_) >= target, 10000);
  }

  QImage Snapshot() { return host_->grab().toImage(); }

  // testsrc's colour bars filling a 320x240 area: blue, then yellow.
  void VerifyColourBars(const QImage& shot) {
    VERIFY_PIXEL(shot, 140, 20, Qt::blue);
    VERIFY_PIXEL(shot, 180, 20, Qt::yellow);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    using testsupport::MakeFlv;
    testsrc_ = MakeFlv(dir_.path(), "testsrc.flv",
                       {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
                        "sine=sample_rate=22050", "-t", "3", "-c:v", "flv1", "-c:a", "libmp3lame"});
    blueWide_ = MakeFlv(dir_.path(), "blue_wide.flv",
                        {"-f", "lavfi", "-i", "color=c=blue:size=480x120:rate=25", "-f", "lavfi",
                         "-i", "sine", "-t", "3", "-c:v", "flv1", "-c:a", "aac"});
    shortClip_ =
        MakeFlv(dir_.path(), "short.flv",
                {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-t", "0.6", "-c:v", "flv1"});
    alpha_ = MakeFlv(dir_.path(), "alpha.mov",
                     {"-f", "lavfi", "-i", "color=c=red@0.0:size=64x48:rate=10,format=rgba", "-t",
                      "2", "-c:v", "png"});
    blackFrame_ = MakeFlv(dir_.path(), "black.flv",
                          {"-f", "lavfi", "-i", "color=c=black:size=160x120:rate=25", "-frames:v",
                           "1", "-c:v", "flv1"});
    QVERIFY(!testsrc_.isEmpty() && !blueWide_.isEmpty() && !shortClip_.isEmpty() &&
            !alpha_.isEmpty() && !blackFrame_.isEmpty());
  }

  void init() {
    host_ = std::make_unique<QWidget>();
    host_->setAutoFillBackground(true);
    QPalette white = host_->palette();
    white.setColor(QPalette::Window, Qt::white);
    host_->setPalette(white);
    host_->resize(400, 300);
    player_ = new MpvPlayer(host_.get());
    player_->SetAudioOutput(QStringLiteral("null"));
    Resize(320, 240);
    host_->show();
    QVERIFY(QTest::qWaitForWindowExposed(host_.get()));
  }

  void cleanup() { host_.reset(); }

  void twipsBecomePixelsAndBadSizesGiveAnEmptyArea() {
    const double perPixel = 1440.0 / player_->logicalDpiX();
    player_->SetWidth(float(100 * perPixel));
    player_->SetHeight(float(50.6 * perPixel));
    QCOMPARE(player_->size(), QSize(100, 51));
    QCOMPARE(player_->Width(), float(100 * perPixel));

    player_->SetWidth(-30.0f);
    player_->SetHeight(std::numeric_limits<float>::quiet_NaN());
    QCOMPARE(player_->size(), QSize(0, 0));
    QCOMPARE(player_->Width(), -30.0f);
    QVERIFY(std::isnan(player_->Height()));
  }

  void emptyAreaKeepsPlayingAndRecovers() {
    PlayAndWait(testsrc_, 2);
    player_->SetWidth(-30.0f);
    player_->SetHeight(-822.0f);
    const double before = player_->State().position();
    QTRY_VERIFY(player_->State().position() > before + 0.3);
    Resize(320, 240);
    WaitForFrames(2);
    VerifyColourBars(Snapshot());
  }

  void brokenMoviesSayWhyAndThePlayerKeepsWorking() {
    const std::pair<QString, const char*> cases[] = {
        {dir_.filePath("absent.n"), "file not found"},
        {dir_.path(), "not a regular file"},
        {testsupport::WriteFile(dir_.filePath("binary.swf"), "FWS\x09 not ours"), "not valid JSON"},
        {testsupport::WriteFile(dir_.filePath("kind.n"),
                                "{\"format\": \"tibrok-movie\", \"version\": 1}"),
         "\"kind\" must be"},
    };
    for (const auto& [path, reason] : cases) {
      LoadAndWait(0, path);
      const QString message = player_->State().message();
      QVERIFY2(message.contains(path) && message.contains(QLatin1String(reason)),
               qPrintable(message));
      // Painted as dark text on the window's white.
      const QImage shot = Snapshot();
      int dark = 0;
      for (int y = 100; y < 140; y += 2) {
        for (int x = 0; x < 320; ++x) dark += qGray(shot.pixel(x, y)) < 100;
      }
      QVERIFY2(dark > 0, qPrintable(message));
      player_->SetVariable(QStringLiteral("myuri"), testsrc_);
      QCOMPARE(PlayerProbe::LoadRequests(*player_), 0);
    }
    PlayAndWait(testsrc_, 2);
    QVERIFY(player_->State().message().isEmpty());
  }

  void variablesOutsideAPlayerMovieDoNothing() {
    // No movie: the window shows through and no engine has been started.
    player_->SetVariable(QStringLiteral("myuri"), testsrc_);
    VERIFY_PIXEL(Snapshot(), 160, 120, Qt::white);
    QVERIFY(!player_->HasEngine());

    // A new movie's variables start empty: the earlier value is not played.
    LoadAndWait(0, kPlayerMovie);
    QVERIFY(player_->HasEngine());
    player_->SetVariable(QStringLiteral("MyUri"), testsrc_);
    LoadAndWait(0, kInterimMovie);
    player_->SetVariable(QStringLiteral("myuri"), testsrc_);
    QCOMPARE(PlayerProbe::LoadRequests(*player_), 0);
  }

  void stillMovieInLayerZeroStopsPlaybackAndShowsItsScreen() {
    PlayAndWait(testsrc_, 3);
    // Other layers are accepted and change nothing.
    player_->LoadMovie(1, kInterimMovie);
    WaitForFrames(5);
    QVERIFY(player_->State().hasFile());

    LoadAndWait(0, kInterimMovie);
    QTRY_VERIFY(!player_->State().hasFile());
    const int frames = PlayerProbe::FramesRendered(*player_);
    QTest::qWait(200);
    QCOMPARE(PlayerProbe::FramesRendered(*player_), frames);
    const QImage shot = Snapshot();
    VERIFY_PIXEL(shot, 160, 120, Qt::white);
    VERIFY_PIXEL(shot, 310, 230, Qt::white);

    LoadAndWait(0, testsupport::WriteFile(
                       dir_.filePath("red.swf"),
                       "{\"format\": \"tibrok-movie\", \"version\": 1, \"kind\": \"still\", "
                       "\"background\": \"#FF0000\", \"textColor\": \"#FFFFFF\", "
                       "\"text\": \"Choose a file\"}"));
    const QImage red = Snapshot();
    VERIFY_PIXEL(red, 5, 5, Qt::red);
    VERIFY_PIXEL(red, 360, 280, Qt::white);  // the host, outside the area
    int light = 0;
    for (int x = 0; x < 320; ++x) light += qGreen(red.pixel(x, 120)) > 200;
    QVERIFY(light > 0);  // the text
  }

  void playsAVideoThatMovesAndAdvances() {
    QSignalSpy loaded(&player_->State(), &PlaybackState::fileLoaded);
    PlayAndWait(testsrc_, 3);
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(player_->State().videoSize(), QSize(320, 240));
    QTRY_VERIFY(player_->State().duration() > 2.5);

    const QImage first = Snapshot();
    const double startedAt = player_->State().position();
    QTRY_VERIFY(player_->State().position() > startedAt + 0.4);
    const QImage later = Snapshot();
    QVERIFY(first != later);
    VerifyColourBars(later);
  }

  // The layout for any video and area: inside the area, centred, the
  // video's shape, and for extreme shapes at least a line of one pixel
  // rather than nothing.
  void showAllLayoutStaysInsideTheArea_data() {
    QTest::addColumn<QSize>("video");
    QTest::addColumn<QSizeF>("area");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("wide video") << QSize(480, 120) << QSizeF(320, 240) << QRect(0, 80, 320, 80);
    QTest::newRow("tall video") << QSize(120, 480) << QSizeF(320, 240) << QRect(130, 0, 60, 240);
    QTest::newRow("same shape") << QSize(160, 120) << QSizeF(640, 480) << QRect(0, 0, 640, 480);
    QTest::newRow("hairline") << QSize(100000, 1) << QSizeF(200, 100) << QRect(0, 50, 200, 1);
    QTest::newRow("one column") << QSize(1, 100000) << QSizeF(200, 100) << QRect(100, 0, 1, 100);
    QTest::newRow("fractional area") << QSize(4, 3) << QSizeF(10.5, 7.25) << QRect(0, 0, 10, 7);
    QTest::newRow("area under a pixel") << QSize(4, 3) << QSizeF(0.4, 0.4) << QRect();
    QTest::newRow("no area") << QSize(4, 3) << QSizeF(0, 100) << QRect();
    QTest::newRow("no video") << QSize(0, 0) << QSizeF(100, 100) << QRect();
    QTest::newRow("negative video") << QSize(-4, 3) << QSizeF(100, 100) << QRect();
  }
  void showAllLayoutStaysInsideTheArea() {
    QFETCH(QSize, video);
    QFETCH(QSizeF, area);
    QFETCH(QRect, expected);
    QCOMPARE(picture_layout::ShowAll(video, area), expected);
  }

  void letterboxBarsShowTheMovieBackground() {
    PlayAndWait(blueWide_, 2);
    // 480x120 in 320x240 is 320x80, centred between bars of 80.
    const QImage shot = Snapshot();
    VERIFY_PIXEL(shot, 160, 85, Qt::blue);
    VERIFY_PIXEL(shot, 160, 155, Qt::blue);
    VERIFY_PIXEL(shot, 160, 75, Qt::black);
    VERIFY_PIXEL(shot, 160, 165, Qt::black);
    VERIFY_PIXEL(shot, 360, 120, Qt::white);  // the host beside the area
  }

  void quotedSecondAddressReplacesTheFirst() {
    PlayAndWait(testsrc_, 3);
    PlayAndWait(QLatin1Char('"') + blueWide_ + QLatin1Char('"'), 2);
    QCOMPARE(player_->State().videoSize(), QSize(480, 120));
    VERIFY_PIXEL(Snapshot(), 160, 120, Qt::blue);
    QCOMPARE(PlayerProbe::LastLoadedTarget(*player_), blueWide_);
  }

  void lastFrameStaysAndTheNextFilePlaysAfterTheEnd() {
    Play(shortClip_);
    QTRY_VERIFY_WITH_TIMEOUT(player_->State().endReached(), 10000);
    QTest::qWait(100);
    VerifyColourBars(Snapshot());

    // A resize lays the held frame out again.
    const int frames = PlayerProbe::FramesRendered(*player_);
    Resize(160, 240);
    QTRY_VERIFY(PlayerProbe::FramesRendered(*player_) > frames);
    const QImage narrow = Snapshot();
    VERIFY_PIXEL(narrow, 80, 50, Qt::black);   // the bar above the 160x120 picture
    VERIFY_PIXEL(narrow, 90, 62, Qt::yellow);  // above the replay button
    Resize(320, 240);

    // The engine holds the end paused; the next file must not inherit that.
    PlayAndWait(testsrc_, 2);
    const double startedAt = player_->State().position();
    QTRY_VERIFY(player_->State().position() > startedAt + 0.3);
  }

  // The engine still holds the last picture of a finished file and redraws
  // it when playback resumes for the next one: that picture is not the new
  // file's, and a one-frame black file must show nothing else.
  void aNewFileNeverShowsThePictureOfTheFileBefore() {
    for (int round = 0; round < 4; ++round) {
      Play(shortClip_);
      QTRY_VERIFY_WITH_TIMEOUT(player_->State().endReached(), 10000);
      QTRY_VERIFY(
          !playback::PictureRect(*player_).isEmpty() &&
          playback::HasContent(playback::OwnPicture(*player_, playback::PictureRect(*player_))));

      int shown = 0, stale = 0;
      const QMetaObject::Connection c = connect(player_, &MpvPlayer::frameRendered, this, [&] {
        ++shown;
        const QRect rect = playback::PictureRect(*player_);
        if (!rect.isEmpty() && playback::HasContent(playback::OwnPicture(*player_, rect))) {
          ++stale;
        }
      });
      Play(blackFrame_);
      QTRY_VERIFY_WITH_TIMEOUT(player_->State().endReached() && shown > 0, 10000);
      QTest::qWait(100);
      disconnect(c);
      QVERIFY2(stale == 0, qPrintable(QStringLiteral("round %1: %2 of %3 frames showed the "
                                                     "file before")
                                          .arg(round)
                                          .arg(stale)
                                          .arg(shown)));
    }
  }

  void alphaVideoIsCompositedOntoWhite() {
    PlayAndWait(alpha_, 2);
    QTRY_VERIFY(IsNear(Snapshot().pixel(160, 120), Qt::white, 10));
  }

  void corpusFilesPlay() {
    const std::tuple<const char*, QSize, int> cases[] = {
        {"flv1_mp3_flash6_320x240.flv", QSize(320, 240), 3},
        {"vp6f_mp3_flash8_320x240.flv", QSize(320, 240), 3},
        // Its only frame must still reach the screen.
        {"flashsv_128x128_oneframe_nometa.flv", QSize(128, 128), 1},
    };
    for (const auto& [name, size, frames] : cases) {
      PlayAndWait(testsupport::CorpusFile(name), frames);
      QCOMPARE(player_->State().videoSize(), size);
      QVERIFY(player_->State().message().isEmpty());
    }
  }

  void unopenableAddressesSayWhy() {
    const std::pair<QString, const char*> cases[] = {
        {dir_.filePath("absent.flv"), "No such file or directory"},
        {"http://127.0.0.1:1/clip.flv", "Connection refused"},
        {testsupport::CorpusFile("header_only_9bytes.flv"), "holds only an FLV header"},
        // A local file cannot smuggle in a protocol either.
        {testsupport::WriteFile(dir_.filePath("edl.flv"), "# mpv EDL v0\nav://lavfi:testsrc\n"),
         "it is an EDL playlist, not an FLV or MP4 video"},
    };
    for (const auto& [address, reason] : cases) {
      PlayAndWait(testsrc_, 2);
      Play(address);
      QTRY_VERIFY_WITH_TIMEOUT(player_->State().message().contains(QLatin1String(reason)), 10000);
      QVERIFY2(player_->State().message().contains(address),
               qPrintable(player_->State().message()));
      // The failure leaves the movie's stage, not the earlier picture.
      const int frames = PlayerProbe::FramesRendered(*player_);
      QTest::qWait(200);
      QCOMPARE(PlayerProbe::FramesRendered(*player_), frames);
      // Where the blue bar was, above the centred message.
      VERIFY_PIXEL(Snapshot(), 140, 20, Qt::black);
    }
  }

  void refusedAddressesReachNoEngine() {
    PlayAndWait(testsrc_, 2);
    QSignalSpy loaded(&player_->State(), &PlaybackState::fileLoaded);
    for (const char* address : {"av://lavfi:testsrc", "fd://0"}) {
      Play(QString::fromUtf8(address));
      QTRY_VERIFY(player_->State().message().contains(QLatin1String(address)));
    }
    QCOMPARE(PlayerProbe::LoadRequests(*player_), 1);
    QTRY_VERIFY(!player_->State().hasFile());  // what played before has stopped
    QTest::qWait(200);
    QCOMPARE(loaded.count(), 0);
  }

  void mousePressesStayInThePlayerArea() {
    testsupport::PressCounter counter;
    host_->installEventFilter(&counter);
    QTest::mouseClick(player_, Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseClick(player_, Qt::RightButton, {}, QPoint(50, 50));
    QCOMPARE(counter.presses, 0);
    QTest::mouseClick(host_.get(), Qt::LeftButton, {}, QPoint(360, 280));
    QCOMPARE(counter.presses, 1);
  }

  void canBeDestroyedWhilePlayingOrLoading() {
    PlayAndWait(testsrc_, 3);
    QElapsedTimer timer;
    timer.start();
    host_.reset();
    qInfo("destroyed while playing in %lld ms", timer.elapsed());

    // With the movie still being read...
    init();
    Play(testsrc_);
    host_.reset();
    QTest::qWait(200);

    // ...and with the file still being opened.
    init();
    LoadAndWait(0, kPlayerMovie);
    player_->SetVariable(QStringLiteral("myuri"), testsrc_);
    host_.reset();
  }
};

QTEST_MAIN(TestMpvPlayer)
#include "test_mpv_player.moc"
