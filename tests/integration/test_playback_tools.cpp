// Frame steps, speed, the copied picture and the seek bar's preview through
// the real engine: the keys of the action table move real playback frame by
// frame and change its speed (the sound keeping its pitch), Ctrl+C puts the
// video's own picture on the clipboard, and the preview engine shows the
// moment asked for, from a local file and from a server that can seek, never
// from one that cannot, without holding up the window.
#include <QClipboard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <cmath>
#include <memory>

#include "player/mpv_player.h"
#include "player/player_probe.h"
#include "player/seek_preview.h"
#include "player_ui/player_controls.h"
#include "player_ui/player_overlay.h"
#include "player_ui/seek_bar.h"
#include "player_ui/seek_preview_popup.h"
#include "support/file_server.h"
#include "support/playback_watch.h"
#include "support/test_support.h"

namespace {

constexpr double kFps = 25;

int FrameAt(double seconds) { return int(std::lround(seconds * kFps)); }

// Whether most of a picture is `colour` (within a tolerance for the codec).
bool MostlyOf(const QImage& picture, QColor colour) {
  if (picture.isNull()) return false;
  int alike = 0;
  for (int y = 0; y < picture.height(); y += 4) {
    for (int x = 0; x < picture.width(); x += 4) {
      const QColor c = picture.pixelColor(x, y);
      alike += std::abs(c.red() - colour.red()) < 60 && std::abs(c.green() - colour.green()) < 60 &&
               std::abs(c.blue() - colour.blue()) < 60;
    }
  }
  return alike * 16 * 10 > picture.width() * picture.height() * 9;
}

bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) < 60 && std::abs(a.green() - b.green()) < 60 &&
         std::abs(a.blue() - b.blue()) < 60;
}

}  // namespace

class TestPlaybackTools : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString steps_;   // 320x240 test pattern, H.264 at 25 fps, 6 s
  QString voice_;   // test pattern with MP3 sound, 8 s
  QString halves_;  // red for 4 s, then blue for 4 s; a keyframe every second
  QString wide_;    // 320x240 stored, pixels twice as wide as high: red left, blue right

  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;
  PlayerControls* controls_ = nullptr;

  void PlayAndWait(const QString& address) {
    const playback::Outcome out =
        playback::PlayAndWatch(*player_, address, {.boundMs = 15000, .advance = 0.2});
    QVERIFY2(out.Plays(), qPrintable(out.Describe()));
  }

  void Pause() {
    player_->Commands().Pause();
    QTRY_VERIFY(player_->State().paused());
  }

  QString Engine(const char* name) const { return PlayerProbe::EngineProperty(*player_, name); }

  // The position once it has held still for a while: frame steps and seeks
  // report theirs a moment after they land.
  double SettledPosition() {
    double last = -1;
    for (int calm = 0; calm < 3;) {
      QTest::qWait(100);
      const double now = player_->State().position();
      calm = now == last ? calm + 1 : 0;
      last = now;
    }
    return last;
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    using testsupport::MakeFlv;
    steps_ = MakeFlv(dir_.path(), "steps.flv",
                     {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-t", "6", "-c:v",
                      "libx264", "-g", "50", "-pix_fmt", "yuv420p"});
    voice_ = MakeFlv(dir_.path(), "voice.flv",
                     {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
                      "sine=sample_rate=44100", "-t", "8", "-c:v", "flv1", "-c:a", "libmp3lame"});
    halves_ = MakeFlv(dir_.path(), "halves.flv",
                      {"-f", "lavfi", "-i", "color=c=red:s=320x240:r=25:d=4", "-f", "lavfi", "-i",
                       "color=c=blue:s=320x240:r=25:d=4", "-filter_complex",
                       "[0][1]concat=n=2:v=1:a=0", "-c:v", "flv1", "-g", "25"});
    wide_ = MakeFlv(dir_.path(), "wide.flv",
                    {"-f", "lavfi", "-i", "color=c=red:s=160x240:r=25:d=3", "-f", "lavfi", "-i",
                     "color=c=blue:s=160x240:r=25:d=3", "-filter_complex", "[0][1]hstack,setsar=2",
                     "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    QVERIFY(!steps_.isEmpty() && !voice_.isEmpty() && !halves_.isEmpty() && !wide_.isEmpty());
  }

  void init() {
    player_ = testsupport::ShowPlayerIn(host_, QSize(320, 240));
    QVERIFY(player_);
    controls_ = PlayerProbe::Overlay(*player_).Controls();
  }

  void cleanup() { host_.reset(); }

  void framesStepOneByOneEachWay() {
    PlayAndWait(steps_);
    Pause();
    const int start = FrameAt(SettledPosition());
    for (int i = 0; i < 3; ++i) QTest::keyClick(player_, Qt::Key_Period);
    QTRY_COMPARE_WITH_TIMEOUT(FrameAt(player_->State().position()), start + 3, 5000);
    QVERIFY(player_->State().paused());
    // Back, pressed faster than the engine steps back: each press counts.
    for (int i = 0; i < 3; ++i) QTest::keyClick(player_, Qt::Key_Comma);
    QTRY_COMPARE_WITH_TIMEOUT(FrameAt(player_->State().position()), start, 5000);
    QCOMPARE(FrameAt(SettledPosition()), start);
    QTest::keyClick(player_, Qt::Key_Comma);
    QTRY_COMPARE_WITH_TIMEOUT(FrameAt(player_->State().position()), start - 1, 5000);
    QVERIFY(player_->State().paused());
  }

  void stepBackPausesPlayback() {
    PlayAndWait(steps_);
    QVERIFY(!player_->State().paused());
    QTest::keyClick(player_, Qt::Key_Comma);
    QTRY_VERIFY(player_->State().paused());
    const int landed = FrameAt(SettledPosition());
    QTest::keyClick(player_, Qt::Key_Comma);
    QTRY_COMPARE_WITH_TIMEOUT(FrameAt(player_->State().position()), landed - 1, 5000);
  }

  void speedKeysSetTheEnginesSpeedAndTheSoundKeepsItsPitch() {
    PlayAndWait(voice_);
    // "}" as a US keyboard sends it: Shift and the bracket key.
    QTest::keyClick(player_, Qt::Key_BraceRight, Qt::ShiftModifier);
    QTRY_COMPARE(Engine("speed").toDouble(), 2.0);
    // The state hears of it by the engine's event, which may come after a
    // direct read of the engine's property.
    QTRY_COMPARE(player_->State().speed(), 2.0);
    QCOMPARE(Engine("audio-pitch-correction"), QStringLiteral("yes"));
    // The sound plays on, and the rest of the file takes half its length.
    QVERIFY(Engine("audio-params/samplerate").toInt() > 0);
    const double remaining = Engine("time-remaining").toDouble();
    const double playtime = Engine("playtime-remaining").toDouble();
    QVERIFY2(remaining > 1 && std::abs(remaining / playtime - 2) < 0.1,
             qPrintable(QStringLiteral("%1 / %2").arg(remaining).arg(playtime)));
    QTRY_VERIFY(controls_->SpeedButton()->isVisible());
    QCOMPARE(controls_->SpeedButton()->text(), QStringLiteral("2\u00d7"));

    QTest::keyClick(player_, Qt::Key_BracketRight);
    QTRY_COMPARE(Engine("speed").toDouble(), 2.2);
    QTest::keyClick(player_, Qt::Key_Backspace);
    QTRY_COMPARE(Engine("speed").toDouble(), 1.0);
    QTRY_VERIFY(!controls_->SpeedButton()->isVisible());
    // Never slower than the bounds: a quarter at most.
    for (int i = 0; i < 4; ++i) QTest::keyClick(player_, Qt::Key_BraceLeft, Qt::ShiftModifier);
    QTRY_COMPARE(Engine("speed").toDouble(), 0.25);
    QTRY_COMPARE(player_->State().speed(), 0.25);
    // The speed stays for the next file.
    PlayAndWait(steps_);
    QCOMPARE(Engine("speed").toDouble(), 0.25);
  }

  void ctrlCCopiesTheVideosOwnPictureAtItsOwnSize() {
    PlayAndWait(wide_);
    Pause();
    QVERIFY(PlayerProbe::Overlay(*player_).ControlsVisible());
    QApplication::clipboard()->clear();
    QTest::keyClick(player_, Qt::Key_C, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::clipboard()->image().isNull(), 5000);
    const QImage copied = QApplication::clipboard()->image();
    // The display size, its pixels made square; not the player area's.
    QCOMPARE(copied.size(), QSize(640, 240));
    QCOMPARE(player_->State().videoSize(), copied.size());
    // The picture alone, to its last row: no control bar over it.
    for (int y : {2, 120, 237}) {
      QVERIFY(Near(copied.pixelColor(20, y), Qt::red));
      QVERIFY(Near(copied.pixelColor(620, y), Qt::blue));
    }
    QCOMPARE(PlayerProbe::Overlay(*player_).Notice(),
             QStringLiteral("Picture copied to the clipboard (640\u00d7240)"));
  }

  void previewShowsTheMomentAskedForWithoutHoldingUpTheWindow() {
    PlayAndWait(halves_);
    SeekPreview& preview = PlayerProbe::Preview(*player_);
    QVERIFY(!preview.HasEngine());
    playback::StallMeter meter;
    QSignalSpy ready(&preview, &PreviewSource::pictureReady);
    preview.Request(2);
    QTRY_VERIFY_WITH_TIMEOUT(ready.count() == 1, 10000);
    QCOMPARE(ready.at(0).at(0).toDouble(), 2.0);
    const QImage red = ready.at(0).at(1).value<QImage>();
    QCOMPARE(red.size(), QSize(160, 120));
    QVERIFY(MostlyOf(red, Qt::red));
    preview.Request(6);
    QTRY_VERIFY_WITH_TIMEOUT(ready.count() == 2, 10000);
    QVERIFY(MostlyOf(ready.at(1).at(1).value<QImage>(), Qt::blue));
    QVERIFY2(meter.MaxGapMs() < 1000, qPrintable(QString::number(meter.MaxGapMs())));

    // Hovering the bar: the time at once, and the picture of that moment.
    SeekBar* bar = controls_->Seek();
    SeekPreviewPopup* popup = PlayerProbe::Overlay(*player_).SeekPreview();
    QTRY_VERIFY(bar->isVisible() && bar->Duration() > 7);
    const int early = int(bar->XOf(1));
    QTest::mouseMove(bar, QPoint(early, bar->height() / 2));
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(popup->TimeText(), QStringLiteral("0:01"));
    QTRY_VERIFY_WITH_TIMEOUT(MostlyOf(popup->Picture(), Qt::red), 10000);

    // Another file: the preview engine goes with the old one.
    PlayAndWait(steps_);
    QVERIFY(!preview.HasEngine());
  }

  void previewOverTheNetworkOnlyFromAServerThatCanSeek() {
    const QByteArray body = testsupport::ReadFile(halves_);
    FileServer ranged(body, FileServer::Mode::kRanges, 4 << 20);
    PlayAndWait(ranged.Url());
    SeekPreview& preview = PlayerProbe::Preview(*player_);
    QSignalSpy ready(&preview, &PreviewSource::pictureReady);
    QVERIFY(preview.Available());
    preview.Request(6);
    QTRY_VERIFY_WITH_TIMEOUT(ready.count() == 1, 15000);
    QVERIFY(MostlyOf(ready.at(0).at(1).value<QImage>(), Qt::blue));

    // A server that cannot seek would send the whole file for every moment.
    FileServer whole(body, FileServer::Mode::kNoRanges, 4 << 20);
    PlayAndWait(whole.Url());
    ready.clear();
    QVERIFY(preview.Available());
    preview.Request(6);
    QTRY_VERIFY_WITH_TIMEOUT(!preview.Available(), 15000);
    QVERIFY(!preview.HasEngine());
    QTest::qWait(300);
    QCOMPARE(ready.count(), 0);
    // The player itself plays on.
    const double at = player_->State().position();
    QTRY_VERIFY_WITH_TIMEOUT(player_->State().position() > at + 0.2, 5000);
  }
};

QTEST_MAIN(TestPlaybackTools)
#include "test_playback_tools.moc"
