// Modern FLV through the real player: HEVC as codec id 12 and as enhanced
// FLV, AV1 and VP9 with Opus, made from streams ffmpeg encodes and wrapped by
// the test's FLV writer. Each shows its picture, plays its sound (a stream
// the engine could not decode would be named in a notice), has its true
// length, lands exact seeks within a frame, and a file still being written
// plays on into what is added.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "player/mpv_player.h"
#include "support/encoded_clips.h"
#include "support/file_server.h"
#include "support/playback_watch.h"
#include "support/test_support.h"

namespace {

constexpr double kSeconds = 4;
constexpr double kFrame = 1.0 / 25;

struct Kind {
  flvwrite::Clip clip;
  flvwrite::Dialect dialect;
};

const std::string kX265 =
    "-c:v libx265 -preset ultrafast -tag:v hvc1 -x265-params log-level=error:keyint=25";

const Kind kKinds[] = {
    {{"hevc_aac", kX265, "-c:a aac", "320x240", 25, 4}, flvwrite::Dialect::kCodecId},
    {{"hevc_aac", kX265, "-c:a aac", "320x240", 25, 4}, flvwrite::Dialect::kEnhanced},
    {{"av1_opus", "-c:v libaom-av1 -usage realtime -cpu-used 8 -g 25", "-c:a libopus", "320x240",
      25, 4},
     flvwrite::Dialect::kEnhanced},
    {{"vp9_opus", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -g 25", "-c:a libopus", "320x240",
      25, 4},
     flvwrite::Dialect::kEnhanced},
};

const char* Name(const Kind& kind) {
  return kind.dialect == flvwrite::Dialect::kCodecId ? "hevc_aac_codec_id_12"
         : kind.clip.name == "hevc_aac"              ? "hevc_aac_enhanced"
                                                     : kind.clip.name.c_str();
}

}  // namespace

class TestModernFlv : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;

  // The FLV of a kind, made once.
  QString Make(const Kind& kind) {
    const QString flv = dir_.filePath(QLatin1String(Name(kind)) + ".flv");
    if (QFile::exists(flv)) return flv;
    const auto streams = flvwrite::Encode(dir_.path().toStdString(), kind.clip);
    if (streams.size() != 2) return {};
    flvwrite::Options options;
    options.dialect = kind.dialect;
    return Write(QLatin1String(Name(kind)) + ".flv", flvwrite::Write(streams, options));
  }

  QString Write(const QString& name, const flvwrite::Bytes& bytes) {
    return testsupport::WriteFile(
        dir_.filePath(name),
        QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
  }

  // Plays `address` and checks what every file made here gives: picture and
  // sound, at the size made, and no decode problem; `what` says what was seen.
  void PlaysPictureAndSound(const QString& address, int boundMs, QString* what) {
    playback::Watch watch;
    watch.checkPictures = true;
    watch.expectVideo = true;
    watch.boundMs = boundMs;
    const playback::Outcome out = playback::PlayAndWatch(*player_, address, watch);
    *what = out.Describe() +
            QStringLiteral(", decode problem \"%1\"").arg(player_->State().decodeProblem());
    qInfo("%s", qPrintable(*what));
    QVERIFY2(out.Plays() && out.picture, qPrintable(*what));
    QCOMPARE(out.videoSize, QSize(320, 240));
    QVERIFY2(player_->State().decodeProblem().isEmpty(), qPrintable(*what));
    QVERIFY(!player_->State().audioOnly());
  }

  double Landing(double target) {
    QSignalSpy seeked(&player_->State(), &PlaybackState::seeked);
    player_->Commands().SeekTo(target);
    if (!seeked.wait(5000)) return -1;
    return seeked.last().at(0).toDouble();
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    player_ = testsupport::ShowPlayerIn(host_);
    QVERIFY(player_);
  }

  void cleanupTestCase() { host_.reset(); }

  void plays_data() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(kKinds)); ++i) QTest::newRow(Name(kKinds[i])) << i;
  }
  void plays() {
    QFETCH(int, index);
    const QString path = Make(kKinds[index]);
    QVERIFY(!path.isEmpty());
    QString what;
    PlaysPictureAndSound(path, 8000, &what);
    if (QTest::currentTestFailed()) return;
    // The sound runs to 4 s; HEVC's last picture, shown two frames after its
    // timestamp of 3.96 s (B-frames), to 4.08 s.
    QVERIFY2(std::abs(player_->State().duration() - kSeconds) <= 2 * kFrame + 1e-3,
             qPrintable(what));

    player_->Commands().Pause();
    // (Not 0: HEVC's first picture, after B-frames, is shown at 0.08 s.)
    for (const double target : {2.52, 0.8, 3.6, 0.2, 1.24}) {
      const double landed = Landing(target);
      QVERIFY2(std::abs(landed - target) <= kFrame / 2 + 1e-3,
               qPrintable(QStringLiteral("seek to %1 landed at %2").arg(target).arg(landed)));
    }
  }

  void aPictureWithoutItsConfigurationLeavesTheSound_data() {
    QTest::addColumn<bool>("unknownFourCc");
    QTest::newRow("no sequence header") << false;
    QTest::newRow("unknown FourCC") << true;
  }
  void aPictureWithoutItsConfigurationLeavesTheSound() {
    QFETCH(bool, unknownFourCc);
    auto streams = flvwrite::Encode(dir_.path().toStdString(),
                                    {"hevc_opus", kX265, "-c:a libopus", "320x240", 25, 2});
    QCOMPARE(streams.size(), size_t(2));
    if (unknownFourCc) {
      streams[0].fourCc = flvwrite::FourCc("vvc1");
    } else {
      streams[0].config.clear();
    }
    const QString path = Write("damaged.flv", flvwrite::Write(streams));
    playback::Watch watch;
    const playback::Outcome out = playback::PlayAndWatch(*player_, path, watch);
    const QString what =
        out.Describe() +
        QStringLiteral(", decode problem \"%1\"").arg(player_->State().decodeProblem());
    qInfo("%s", qPrintable(what));
    QVERIFY2(out.Plays() && player_->State().audioOnly(), qPrintable(what));
    QVERIFY2(!player_->State().decodeProblem().isEmpty(), qPrintable(what));
  }

  // Over http, as a CDN's live HTTP-FLV stream comes, and from a server that
  // does ranges: the player reads the stream itself and turns it into
  // Matroska as it comes.
  void playsOverHttp_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("ranges");
    QTest::newRow("codec id 12, live") << 0 << false;
    QTest::newRow("enhanced HEVC, ranges") << 1 << true;
    QTest::newRow("AV1, live") << 2 << false;
  }
  void playsOverHttp() {
    QFETCH(int, index);
    QFETCH(bool, ranges);
    const QString path = Make(kKinds[index]);
    QVERIFY(!path.isEmpty());
    FileServer server(testsupport::ReadFile(path),
                      ranges ? FileServer::Mode::kRanges : FileServer::Mode::kNoRanges, 4 << 20);
    QString what;
    PlaysPictureAndSound(server.Url(), 10000, &what);
  }

  void aFileBeingWrittenPlaysOn() {
    const QString whole = Make(kKinds[0]);
    QVERIFY(!whole.isEmpty());
    const QByteArray bytes = testsupport::ReadFile(whole);
    // Written up to the middle of a tag a third of the way in, as a
    // recorder leaves it between two writes.
    qsizetype cut = 13;
    while (cut < bytes.size() / 3) {
      cut +=
          15 + (uchar(bytes[cut + 1]) << 16 | uchar(bytes[cut + 2]) << 8 | uchar(bytes[cut + 3]));
    }
    cut += 20;
    const QString growing = dir_.filePath("growing.flv");
    QFile file(growing);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes.left(cut));
    file.flush();
    playback::Watch watch;
    watch.firstFrameIsEnough = true;
    const playback::Outcome out = playback::PlayAndWatch(*player_, growing, watch);
    QVERIFY2(out.loaded && out.message.isEmpty(), qPrintable(out.Describe()));
    // The rest arrives in pieces while it plays.
    const qsizetype part = (bytes.size() - cut) / 8 + 1;
    for (qsizetype at = cut; at < bytes.size(); at += part) {
      QTest::qWait(150);
      file.write(bytes.mid(at, part));
      file.flush();
    }
    QVERIFY2(
        playback::WaitUntil([&] { return player_->State().position() > kSeconds * 2 / 3; }, 8000),
        qPrintable(QString::number(player_->State().position())));
  }
};

QTEST_MAIN(TestModernFlv)
#include "test_modern_flv.moc"
