// What the player tells about a real file, through the real engine: the cue
// points of a file that has them are ticked on the seek bar and reached with
// PgUp and PgDn, and the information view shows the file's report. The
// views on their own, on a state set by hand, are test_file_views. The file
// is the corpus's, and so are the damaged ones: without the corpus only the
// MP4 made here runs.
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "player/mpv_player.h"
#include "player/player_probe.h"
#include "player_ui/cue_marks.h"
#include "player_ui/file_info_view.h"
#include "player_ui/player_overlay.h"
#include "support/corpus.h"
#include "support/playback_watch.h"
#include "support/test_support.h"

namespace {

// Its cue points, as both onMetaData's list and onCuePoint tags give them:
// "one" at 0.864 s, "two" at 1.794 s, "three" at 3 s, in 4.166 s of 800x600
// VP6 at 12 frames a second.
const char* const kCueFile = "cuepoints_vp6f_800x600.flv";
constexpr double kFrame = 1.0 / 12;

QString Describe(const stream_facts::CuePoints& cues) {
  QStringList parts;
  for (const stream_facts::CuePoint& cue : cues) {
    parts << QStringLiteral("%1 %2").arg(cue.seconds, 0, 'f', 3).arg(cue.name);
  }
  return parts.join(QStringLiteral(", "));
}

}  // namespace

class TestFileFacts : public QObject {
  Q_OBJECT

  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;
  PlayerOverlay* overlay_ = nullptr;

  const PlaybackState& State() const { return player_->State(); }

  // Plays the cue file until its first frame shows, then pauses it.
  void OpenCueFile() {
    playback::Watch watch;
    watch.firstFrameIsEnough = true;
    watch.boundMs = 8000;
    const playback::Outcome out = playback::PlayAndWatch(*player_, corpus::File(kCueFile), watch);
    QVERIFY2(out.loaded && out.message.isEmpty(), qPrintable(out.Describe()));
    player_->Commands().Pause();
    QTRY_VERIFY(State().paused());
  }

  // Does `act` and returns where the engine says the seek it asked for
  // landed; -1 when no seek finished.
  double Landing(const std::function<void()>& act) {
    QSignalSpy seeked(&State(), &PlaybackState::seeked);
    act();
    if (!seeked.wait(5000)) return -1;
    return seeked.last().at(0).toDouble();
  }

 private slots:
  void initTestCase() {
    TIBROK_CORPUS_INIT(
        QStringLiteral("its cue points, its damaged files and its information view are not tried"));
  }

  void init() {
    player_ = testsupport::ShowPlayerIn(host_, QSize(480, 360));
    QVERIFY(player_);
    overlay_ = &PlayerProbe::Overlay(*player_);
    // The bar stays up, so that it keeps the length the ticks need.
    overlay_->SetHideDelay(600000);
  }

  void cleanup() { host_.reset(); }

  void cuePointsAreTickedAndReachedByKeys() {
    TIBROK_NEEDS_CORPUS();
    OpenCueFile();
    // Each once, though the file gives each twice.
    QCOMPARE(Describe(State().cuePoints()), QStringLiteral("0.864 one, 1.794 two, 3.000 three"));
    QCOMPARE(overlay_->Cues()->TickXs().size(), 3);

    QVERIFY(Landing([&] { player_->Commands().SeekTo(0); }) >= 0);
    const auto key = [&](Qt::Key k) { return Landing([&] { QTest::keyClick(player_, k); }); };
    double at = key(Qt::Key_PageDown);
    QVERIFY2(std::abs(at - 0.864) <= kFrame, qPrintable(QString::number(at)));
    at = key(Qt::Key_PageDown);
    QVERIFY2(std::abs(at - 1.794) <= kFrame, qPrintable(QString::number(at)));
    // Within a second after "two": back to "one".
    at = key(Qt::Key_PageUp);
    QVERIFY2(std::abs(at - 0.864) <= kFrame, qPrintable(QString::number(at)));
  }

  // An MP4 download cut short (named .flv, as such files often are): it
  // lasts what it holds, plays to that end and not past it, and says where
  // it was cut and what its header claims.
  void anMp4CutShortPlaysToItsRealEnd() {
    QTemporaryDir dir;
    const QString whole =
        testsupport::MakeFlv(dir.path(), "whole.mp4",
                             {"-f",      "lavfi",     "-i",        "testsrc=size=320x240:rate=25",
                              "-f",      "lavfi",     "-i",        "sine",
                              "-t",      "12",        "-c:v",      "libx264",
                              "-preset", "ultrafast", "-pix_fmt",  "yuv420p",
                              "-c:a",    "aac",       "-movflags", "+faststart"});
    QVERIFY(!whole.isEmpty());
    const QByteArray bytes = testsupport::ReadFile(whole);
    const QString cut = testsupport::WriteFile(dir.filePath(QStringLiteral("download.flv")),
                                               bytes.left(bytes.size() * 4 / 10));
    playback::Watch watch;
    watch.boundMs = 8000;
    const playback::Outcome out = playback::PlayAndWatch(*player_, cut, watch);
    QVERIFY2(out.loaded && out.message.isEmpty(), qPrintable(out.Describe()));
    const double length = State().duration();
    QVERIFY2(length > 2 && length < 8, qPrintable(QString::number(length)));
    QVERIFY2(State().fileReport().contains(QLatin1String("held (the header claims 12.0")),
             qPrintable(State().fileReport()));
    player_->Commands().SetSpeed(4);
    QTRY_VERIFY_WITH_TIMEOUT(State().endReached(), 10000);
    QVERIFY2(std::abs(State().position() - length) < 0.5,
             qPrintable(QStringLiteral("%1 of %2").arg(State().position()).arg(length)));
    QVERIFY2(State().decodeProblem().startsWith(QLatin1String("It is cut off after 0:0")) &&
                 State().decodeProblem().endsWith(QLatin1String("; the header claims 0:12")),
             qPrintable(State().decodeProblem()));
    QCOMPARE(State().loadState(), PlaybackState::LoadState::kEnded);
  }

  // Damaged files say what they hold, whether the engine plays them or
  // not: a file whose text conversion left only its first tag readable (and
  // one like it made here, whose one frame does play), its length the one
  // frame's, not what the engine makes of the junk; and a bare header, which
  // the player refuses before the engine sees it.
  void damagedFilesSayWhatTheyHold() {
    TIBROK_NEEDS_CORPUS();
    QTemporaryDir dir;
    const QByteArray frame =
        testsupport::ReadFile(corpus::File("flashsv_128x128_oneframe_nometa.flv"));
    QByteArray junk = testsupport::ReadFile(corpus::File("crlf_mangled_flashsv.flv"));
    const QString made = testsupport::WriteFile(dir.filePath("one_frame_then_junk.flv"),
                                                frame + junk.mid(7196, 300000));
    const struct {
      QString path;
      const char* says;
    } files[] = {
        {corpus::File(QStringLiteral("crlf_mangled_flashsv.flv")),
         "the file is unreadable after its first tag"},
        {made, "the file is unreadable after its first tag"},
        {corpus::File(QStringLiteral("header_only_9bytes.flv")),
         "the file holds only its FLV header, and no tags"},
    };
    for (const auto& file : files) {
      playback::Watch watch;
      watch.firstFrameIsEnough = true;
      const playback::Outcome out = playback::PlayAndWatch(*player_, file.path, watch);
      QVERIFY(playback::WaitUntil([&] { return State().fileReport().contains(file.says); }, 3000));
      const QString report = State().fileReport();
      QVERIFY2(report.startsWith(QLatin1String("Container: FLV version 1, ")), qPrintable(report));
      if (!QByteArray(file.says).contains("header")) {
        QVERIFY2(report.contains(QLatin1String("Video: Screen Video, ")), qPrintable(report));
        QCOMPARE(State().duration(), 0.0);
      }
      qInfo("%s: %s", qPrintable(out.Describe()), qPrintable(report));
    }
  }

  void informationShowsTheFilesReport() {
    TIBROK_NEEDS_CORPUS();
    OpenCueFile();
    QTest::keyClick(player_, Qt::Key_I);
    FileInfoView* info = overlay_->FileInfo();
    QVERIFY(info->IsOpen() && info->isVisible());
    QVERIFY(playback::WaitUntil([&] { return !State().fileReport().isEmpty(); }, 3000));
    const QString report = State().fileReport();
    QCOMPARE(info->Text()->toPlainText(), report);
    for (const char* fact : {"On2 VP6", "800x600", "one", "three"}) {
      QVERIFY2(report.contains(QLatin1String(fact)), qPrintable(report));
    }
    QTest::keyClick(player_, Qt::Key_Escape);
    QVERIFY(!info->IsOpen());
  }
};

QTEST_MAIN(TestFileFacts)
#include "test_file_facts.moc"
