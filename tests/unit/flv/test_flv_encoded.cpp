// The reader on streams Debian's ffmpeg encodes, wrapped by the test writer
// in both ways FLV is written today: every frame counted, the picture size,
// profile and bit depth the encoder was asked for, the sound format, the
// length, and no problem found in a sound file.

#include <QTemporaryDir>
#include <QtTest>

#include "media/flv/report.h"
#include "media/flv/tail.h"
#include "media/flv/walker.h"
#include "support/encoded_clips.h"

using namespace flv_reader;
using flvwrite::Bytes;
using flvwrite::Stream;

namespace {

int64_t Keys(const Stream& s) {
  return std::count_if(s.packets.begin(), s.packets.end(),
                       [](const flvwrite::Packet& p) { return p.key; });
}

}  // namespace

class TestFlvEncoded : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void clips_data();
  void clips();

 private:
  std::vector<Stream> Clip(const QString& name);
  QTemporaryDir dir_;
};

std::vector<Stream> TestFlvEncoded::Clip(const QString& name) {
  for (const flvwrite::Clip& c : flvwrite::StandardClips()) {
    if (QString::fromStdString(c.name) == name)
      return flvwrite::Encode(dir_.path().toStdString(), c);
  }
  return {};
}

void TestFlvEncoded::initTestCase() {
  QVERIFY(dir_.isValid());
  if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) QSKIP("no ffmpeg");
}

void TestFlvEncoded::clips_data() {
  QTest::addColumn<QString>("clip");
  QTest::addColumn<int>("dialect");
  QTest::addColumn<QString>("videoLine");
  QTest::addColumn<QString>("audioLine");
  const int enhanced = int(flvwrite::Dialect::kEnhanced),
            codecId = int(flvwrite::Dialect::kCodecId);
  QTest::newRow("HEVC + AAC, codec id 12")
      << "hevc_aac" << codecId
      << "HEVC (codec id 12, a CDN extension), Main, 8-bit, 324x180, 25.00 fps"
      << "AAC, 48 kHz, mono";
  QTest::newRow("HEVC + AAC, enhanced")
      << "hevc_aac" << enhanced << "HEVC (enhanced FLV, hvc1), Main, 8-bit, 324x180, 25.00 fps"
      << "AAC (enhanced FLV, mp4a), 48 kHz, mono";
  QTest::newRow("HEVC Main 10 + Opus")
      << "hevc10_opus" << enhanced
      << "HEVC (enhanced FLV, hvc1), Main 10, 10-bit, 320x240, 25.00 fps"
      << "Opus (enhanced FLV), 48 kHz, mono";
  QTest::newRow("AV1 + Opus") << "av1_opus" << enhanced
                              << "AV1 (enhanced FLV, av01), Main, 8-bit, 320x240, 25.00 fps"
                              << "Opus (enhanced FLV), 48 kHz, mono";
  QTest::newRow("VP9 + FLAC") << "vp9_flac" << enhanced
                              << "VP9 (enhanced FLV, vp09), Profile 0, 8-bit, 320x240, 25.00 fps"
                              << "FLAC (enhanced FLV), 48 kHz, 16-bit, mono";
  QTest::newRow("VP9 + E-AC-3") << "vp9_eac3" << enhanced
                                << "VP9 (enhanced FLV, vp09), Profile 0, 8-bit, 320x240, 25.00 fps"
                                << "E-AC-3 (enhanced FLV, ec-3), 48 kHz, mono";
  QTest::newRow("H.264 + MP3, enhanced")
      << "avc_mp3" << enhanced << "H.264 (enhanced FLV, avc1), Main, 8-bit, 320x240, 25.00 fps"
      << "MP3 (enhanced FLV), 44.1 kHz, mono";
  QTest::newRow("H.264 + AC-3, codec id 7") << "avc_ac3" << codecId << "H.264, 320x240, 25.00 fps"
                                            << "AC-3 (enhanced FLV), 48 kHz, mono";
}

void TestFlvEncoded::clips() {
  QFETCH(QString, clip);
  QFETCH(int, dialect);
  QFETCH(QString, videoLine);
  QFETCH(QString, audioLine);
  const std::vector<Stream> streams = Clip(clip);
  QCOMPARE(streams.size(), size_t{2});
  const Stream& video = streams[0];
  const Stream& audio = streams[1];
  flvwrite::Options o;
  o.dialect = flvwrite::Dialect(dialect);
  const Bytes file = flvwrite::Write(streams, o);
  MemorySource source{std::span<const uint8_t>(file)};
  const Facts f = WalkAll(source);
  const std::string report = Report(f);
  QVERIFY2(report.find("Video: " + videoLine.toStdString()) != std::string::npos, report.c_str());
  QVERIFY2(report.find("Audio: " + audioLine.toStdString()) != std::string::npos, report.c_str());
  QVERIFY2(report.find("Problems: none") != std::string::npos, report.c_str());
  QCOMPARE(f.streams.video.frames, int64_t(video.packets.size()));
  QCOMPARE(f.streams.video.keyframes, Keys(video));
  QCOMPARE(f.streams.video.width, video.width);
  QCOMPARE(f.streams.video.height, video.height);
  QCOMPARE(f.streams.audio.frames, int64_t(audio.packets.size()));
  // Two seconds from the first frame, give or take the last frame.
  QCOMPARE(f.clock.firstMs, int64_t{0});
  QVERIFY2(f.clock.durationMs >= 1950 && f.clock.durationMs <= 2100,
           qPrintable(QString::number(f.clock.durationMs)));
  const TailInfo tail = ReadTail(source);
  QCOMPARE(tail.lastVideoMs, f.streams.video.lastMs);
  QCOMPARE(tail.lastAudioMs, f.streams.audio.lastMs);
}

QTEST_GUILESS_MAIN(TestFlvEncoded)
#include "test_flv_encoded.moc"
