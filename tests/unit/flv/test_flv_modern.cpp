// The walk of files in both ways FLV is written today, made by the test
// writer from hand-built configuration records: codecs, sizes, profiles and
// rates as the information view shows them, multitrack files listed track by
// track, ModEx offsets, what onMetaData may claim, and the damage real files
// show, each named without blaming the file for what the reader knows.

#include <QtTest>

#include "media/flv/codec_names.h"
#include "media/flv/report.h"
#include "media/flv/tail.h"
#include "media/flv/walker.h"
#include "support/codec_records.h"

using namespace flv_reader;
using flvwrite::Bytes;
using flvwrite::FourCc;
using flvwrite::Stream;

namespace {

Facts Walk(const Bytes& bytes) {
  MemorySource source{std::span<const uint8_t>(bytes)};
  return WalkAll(source);
}

// `count` video frames `stepMs` apart from `fromMs`, a key frame every
// `gop`, composition offsets of 2 frames on the frames between.
Stream Video(uint32_t fourCc, Bytes config, int count, int stepMs = 40, int gop = 25,
             int64_t fromMs = 0, Bytes keyHeader = {}) {
  Stream s = flvwrite::MakeStream(false, fourCc, std::move(config));
  for (int i = 0; i < count; ++i) {
    const bool key = i % gop == 0;
    Bytes data = key ? keyHeader : Bytes{};
    data.resize(data.size() + (key ? 3000 : 700), 0x11);
    s.packets.push_back(
        flvwrite::MakePacket(fromMs + i * stepMs, key ? 0 : 2 * stepMs, key, std::move(data)));
  }
  return s;
}

Stream Audio(uint32_t fourCc, Bytes config, int count, int stepMs, int64_t fromMs = 0,
             Bytes frame = Bytes(200, 0x22)) {
  Stream s = flvwrite::MakeStream(true, fourCc, std::move(config));
  for (int i = 0; i < count; ++i)
    s.packets.push_back(flvwrite::MakePacket(fromMs + i * stepMs, 0, true, frame));
  return s;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool HasProblem(const Facts& f, ProblemKind kind, const std::string& part) {
  for (const Problem& p : f.problems.Kept()) {
    if (p.kind == kind && Has(p.text, part)) return true;
  }
  return false;
}

const Bytes kHevc1080 = flvwrite::HevcRecord({});
const Bytes kAac = {0x11, 0x90};  // AAC LC, 48 kHz, stereo

}  // namespace

Q_DECLARE_METATYPE(Stream)

class TestFlvModern : public QObject {
  Q_OBJECT

 private slots:
  void codecs_data();
  void codecs();
  void multitrack_data();
  void multitrack();
  void modExOffsets();
  void metadataClaims_data();
  void metadataClaims();
  void damage();
  void resyncFindsEnhancedTags();
};

void TestFlvModern::codecs_data() {
  QTest::addColumn<int>("dialect");
  QTest::addColumn<Stream>("video");
  QTest::addColumn<Stream>("audio");
  QTest::addColumn<QString>("videoLine");
  QTest::addColumn<QString>("audioLine");
  using flvwrite::Dialect;
  const Stream hevc = Video(FourCc("hvc1"), kHevc1080, 100);
  const Stream aac = Audio(FourCc("mp4a"), kAac, 188, 21);
  QTest::newRow("HEVC + AAC, codec id 12")
      << int(Dialect::kCodecId) << hevc << aac
      << "Video: HEVC (codec id 12, a CDN extension), Main, 8-bit, 1920x1080, 25.00 fps, "
      << "Audio: AAC, 48 kHz, stereo, ";
  QTest::newRow("HEVC + AAC, enhanced")
      << int(Dialect::kEnhanced) << hevc << aac
      << "Video: HEVC (enhanced FLV, hvc1), Main, 8-bit, 1920x1080, 25.00 fps, "
      << "Audio: AAC (enhanced FLV, mp4a), 48 kHz, stereo, ";
  QTest::newRow("portrait HEVC Main 10")
      << int(Dialect::kEnhanced)
      << Video(FourCc("hvc1"), flvwrite::HevcRecord({1080, 1920, 2, 150, 10, 1, 1}), 120, 16, 60)
      << Audio(FourCc("Opus"), flvwrite::OpusHead(2), 100, 20)
      << "Video: HEVC (enhanced FLV, hvc1), Main 10, 10-bit, 1080x1920, 62.50 fps, "
      << "Audio: Opus (enhanced FLV), 48 kHz, stereo, ";
  QTest::newRow("AV1 + FLAC")
      << int(Dialect::kEnhanced)
      << Video(FourCc("av01"), flvwrite::Av1Record({2560, 1440, 0, 12, 10, false}), 50)
      << Audio(FourCc("fLaC"), flvwrite::FlacRecord(96000, 2, 24), 50, 43)
      << "Video: AV1 (enhanced FLV, av01), Main, 10-bit, 2560x1440, 25.00 fps, "
      << "Audio: FLAC (enhanced FLV), 96 kHz, 24-bit, stereo, ";
  // VP9's record has no size: the first key frame's header gives it.
  QTest::newRow("VP9 + E-AC-3")
      << int(Dialect::kEnhanced)
      << Video(FourCc("vp09"), flvwrite::VpcRecord(2, 31, 10), 50, 40, 25, 0,
               flvwrite::Vp9KeyFrame(854, 480, 2, 10))
      << Audio(FourCc("ec-3"), {}, 60, 32, 0, Bytes{0x0b, 0x77, 0x00, 0xff, 0x74, 0x80, 0, 0})
      << "Video: VP9 (enhanced FLV, vp09), Profile 2, 10-bit, 854x480, 25.00 fps, "
      << "Audio: E-AC-3 (enhanced FLV, ec-3), 44.1 kHz, stereo, ";
  // An AV1 stream with no record: its key frames carry the sequence header.
  QTest::newRow("AV1 without a record + MP3")
      << int(Dialect::kEnhanced)
      << Video(FourCc("av01"), {}, 30, 40, 25, 0,
               flvwrite::Av1SequenceHeader({640, 360, 0, 4, 8, false}))
      << Audio(FourCc(".mp3"), {}, 40, 26, 0, Bytes{0xff, 0xfb, 0x90, 0x64, 0, 0})
      << "Video: AV1 (enhanced FLV, av01), Main, 640x360, 25.00 fps, "
      << "Audio: MP3 (enhanced FLV), 44.1 kHz, stereo, ";
}

void TestFlvModern::codecs() {
  QFETCH(int, dialect);
  QFETCH(Stream, video);
  QFETCH(Stream, audio);
  QFETCH(QString, videoLine);
  QFETCH(QString, audioLine);
  flvwrite::Options o;
  o.dialect = flvwrite::Dialect(dialect);
  const Bytes file = flvwrite::Write({video, audio}, o);
  const Facts f = Walk(file);
  const std::string report = Report(f);
  QVERIFY2(Has(report, videoLine.toStdString()), report.c_str());
  QVERIFY2(Has(report, audioLine.toStdString()), report.c_str());
  QVERIFY2(Has(report, "Problems: none"), report.c_str());
  QCOMPARE(f.streams.video.frames, int64_t(video.packets.size()));
  QCOMPARE(f.streams.video.keyframes,
           std::count_if(video.packets.begin(), video.packets.end(),
                         [](const flvwrite::Packet& p) { return p.key; }));
  QCOMPARE(f.streams.audio.frames, int64_t(audio.packets.size()));
  QCOMPARE(f.streams.video.firstMs, int64_t{0});
  QCOMPARE(f.index.kind, IndexKind::kVideoKeyframes);
  QCOMPARE(int64_t(f.index.entries.size()), f.streams.video.keyframes);
  // The end's own reading finds the same last frames, the end of sequence
  // after them left out.
  MemorySource source{std::span<const uint8_t>(file)};
  const TailInfo tail = ReadTail(source);
  QCOMPARE(tail.lastVideoMs, f.streams.video.lastMs);
  QCOMPARE(tail.lastAudioMs, f.streams.audio.lastMs);
}

void TestFlvModern::multitrack_data() {
  QTest::addColumn<int>("layout");
  QTest::addColumn<bool>("firstPlain");
  using flvwrite::Layout;
  QTest::newRow("one tag a track, the first plain (OBS)") << int(Layout::kOneTrack) << true;
  QTest::newRow("every track in one tag") << int(Layout::kManyTracks) << false;
  QTest::newRow("every track in one tag, each its codec")
      << int(Layout::kManyTracksManyCodecs) << false;
}

void TestFlvModern::multitrack() {
  QFETCH(int, layout);
  QFETCH(bool, firstPlain);
  Stream main = Video(FourCc("hvc1"), kHevc1080, 60, 16, 60);
  Stream low = Video(FourCc("hvc1"), flvwrite::HevcRecord({1280, 720, 1, 93, 8, 1, 1}), 60, 16, 60);
  // Track ids need not follow one another.
  low.trackId = 7;
  const bool manyCodecs = layout == int(flvwrite::Layout::kManyTracksManyCodecs);
  if (manyCodecs)
    low = Video(FourCc("av01"), flvwrite::Av1Record({1280, 720, 0, 8, 8, false}), 60, 16, 60);
  low.trackId = 7;
  Stream commentary = Audio(FourCc("Opus"), flvwrite::OpusHead(1), 48, 20);
  commentary.trackId = 1;
  flvwrite::Options o;
  o.multitrack = flvwrite::Layout(layout);
  o.firstTrackPlain = firstPlain;
  const Facts f = Walk(flvwrite::Write(
      {main, low, Audio(FourCc("Opus"), flvwrite::OpusHead(2), 48, 20), commentary}, o));
  QCOMPARE(f.streams.videoTracks.size(), size_t{2});
  QCOMPARE(f.streams.audioTracks.size(), size_t{2});
  // The stream's figures are its main track's: its frames, its rate.
  QCOMPARE(f.streams.video.frames, int64_t{60});
  QVERIFY2(std::fabs(f.streams.video.frameRate - 62.5) < 0.01,
           qPrintable(QString::number(f.streams.video.frameRate)));
  QCOMPARE(f.streams.videoTracks[1].trackId, 7);
  QCOMPARE(f.streams.videoTracks[1].frames, int64_t{60});
  QCOMPARE(f.streams.videoTracks[1].width, 1280);
  QCOMPARE(f.streams.audioTracks[1].channels, 1);
  QCOMPARE(f.streams.video.tags,
           f.streams.videoTracks[0].tags + (firstPlain ? f.streams.videoTracks[1].tags : 0));
  const std::string report = Report(f);
  const std::string lowName = manyCodecs ? "AV1 (enhanced FLV, av01), Main, 8-bit, 1280x720"
                                         : "HEVC (enhanced FLV, hvc1), Main, 8-bit, 1280x720";
  QVERIFY2(Has(report,
               "Video: 2 tracks\n  track 0: HEVC (enhanced FLV, hvc1), Main, 8-bit, "
               "1920x1080, 62.50 fps"),
           report.c_str());
  QVERIFY2(Has(report, "  track 7: " + lowName), report.c_str());
  QVERIFY2(Has(report, "Audio: 2 tracks\n  track 0: Opus (enhanced FLV), 48 kHz, stereo"),
           report.c_str());
  QVERIFY2(Has(report, "  track 1: Opus (enhanced FLV), 48 kHz, mono"), report.c_str());
  QVERIFY2(Has(report, "Problems: none"), report.c_str());
}

void TestFlvModern::modExOffsets() {
  // 59.94 frames a second: millisecond timestamps of 16 and 17 ms steps,
  // made exact by nanosecond offsets.
  Stream v = Video(FourCc("av01"), flvwrite::Av1Record({}), 600, 0, 60);
  for (size_t i = 0; i < v.packets.size(); ++i) {
    const int64_t ns = static_cast<int64_t>(i) * 1001000000 / 60;
    v.packets[i].dtsMs = ns / 1000000;
    v.packets[i].offsetNs = static_cast<uint32_t>(ns % 1000000);
  }
  Facts f = Walk(flvwrite::Write({v}));
  QVERIFY2(std::fabs(f.streams.video.frameRate - 59.94006) < 0.00001,
           qPrintable(QString::number(f.streams.video.frameRate, 'f', 6)));
  QCOMPARE(f.problems.Total(), int64_t{0});
  // Offsets of a millisecond or more are no offsets: left out and named.
  v.packets[5].offsetNs = 16000000;
  f = Walk(flvwrite::Write({v}));
  QVERIFY(HasProblem(f, ProblemKind::kTagBody, "ModEx timestamp offset"));
  QCOMPARE(f.streams.video.frames, int64_t{600});
  QVERIFY(std::fabs(f.streams.video.frameRate - 59.94) < 0.01);
}

void TestFlvModern::metadataClaims_data() {
  QTest::addColumn<int>("dialect");
  QTest::addColumn<double>("claim");
  QTest::addColumn<QString>("complaint");
  using flvwrite::Dialect;
  QTest::newRow("12 for codec id 12") << int(Dialect::kCodecId) << 12.0 << "";
  QTest::newRow("the FourCC as a number")
      << int(Dialect::kEnhanced) << double(FourCc("hvc1")) << "";
  QTest::newRow("12 for hvc1") << int(Dialect::kEnhanced) << 12.0 << "";
  QTest::newRow("an unknown FourCC") << int(Dialect::kEnhanced) << double(FourCc("xyz9")) << "";
  QTest::newRow("H.264 for hvc1")
      << int(Dialect::kEnhanced) << 7.0
      << "says the video codec is H.264; the tags hold HEVC (enhanced FLV, hvc1)";
  QTest::newRow("av01 for codec id 12")
      << int(Dialect::kCodecId) << double(FourCc("av01"))
      << "says the video codec is AV1 (enhanced FLV, av01); the tags hold HEVC (codec id 12";
}

void TestFlvModern::metadataClaims() {
  QFETCH(int, dialect);
  QFETCH(double, claim);
  QFETCH(QString, complaint);
  flvwrite::Options o;
  o.dialect = flvwrite::Dialect(dialect);
  o.videocodecid = claim;
  const Facts f = Walk(flvwrite::Write({Video(FourCc("hvc1"), kHevc1080, 10)}, o));
  const int64_t disagreements = f.problems.Count(ProblemKind::kMetadataDisagrees);
  QCOMPARE(disagreements, int64_t(complaint.isEmpty() ? 0 : 1));
  if (!complaint.isEmpty()) {
    QVERIFY(HasProblem(f, ProblemKind::kMetadataDisagrees, complaint.toStdString()));
  }
}

void TestFlvModern::damage() {
  Stream hevc = Video(FourCc("hvc1"), kHevc1080, 50);
  hevc.width = 1920;
  hevc.height = 1080;
  flvwrite::Options none;
  none.sequenceStart = false;
  Facts f = Walk(flvwrite::Write({hevc, Audio(FourCc("mp4a"), kAac, 50, 21)}, none));
  QCOMPARE(f.streams.video.frames, int64_t{50});
  QVERIFY(HasProblem(f, ProblemKind::kCodecConfig,
                     "HEVC (enhanced FLV, hvc1): frames from 0:00.0 come before any"));
  QVERIFY(HasProblem(f, ProblemKind::kCodecConfig, "AAC (enhanced FLV, mp4a): frames from"));
  QCOMPARE(f.streams.video.width, 1920);  // onMetaData's word, for want of better
  QCOMPARE(f.streams.video.sizeFrom, SizeFrom::kMetadata);

  flvwrite::Options cut;
  cut.configCut = 40;
  cut.dialect = flvwrite::Dialect::kCodecId;
  f = Walk(flvwrite::Write({hevc}, cut));
  QVERIFY(HasProblem(f, ProblemKind::kCodecConfig,
                     "HEVC (codec id 12, a CDN extension): the configuration record (40 bytes) is "
                     "cut short or damaged"));
  QCOMPARE(f.streams.video.frames, int64_t{50});

  // A codec the reader cannot lay out is named and counted; no metadata
  // claim is held against it.
  f = Walk(flvwrite::Write({Video(FourCc("vvc1"), Bytes(30, 1), 50)}));
  QCOMPARE(f.streams.video.frames, int64_t{50});
  QCOMPARE(f.streams.video.keyframes, int64_t{2});
  QCOMPARE(CodecNoticeName(f.streams.video.codec, true), std::string("VVC (enhanced FLV, vvc1)"));
  QCOMPARE(f.problems.Total(), int64_t{0});
  f = Walk(flvwrite::Write({Video(FourCc("\x01\x02zz"), {}, 5)}));
  QVERIFY(Has(Report(f), "Video: unknown codec (enhanced FLV, FourCC \"\\x01\\x02zz\")"));

  // More tracks than are listed: counted, and the file still read.
  std::vector<Stream> many;
  for (uint8_t t = 0; t < 20; ++t) {
    many.push_back(Video(FourCc("av01"), {}, 5));
    many.back().trackId = t;
  }
  f = Walk(flvwrite::Write(many));
  QCOMPARE(f.streams.videoTracks.size(), kMaxTracksListed);
  QVERIFY(f.streams.tracksLeftOut > 0);
  QVERIFY(Has(Report(f), "Video: 16 tracks listed, more left out"));

  // A multitrack tag whose track sizes run past its end.
  Bytes broken = flvwrite::EnhancedBody(
      false, 1, {{3, FourCc("av01"), 0, 0, Bytes(10, 1)}, {3, FourCc("av01"), 1, 0, Bytes(10, 1)}},
      flvwrite::Layout::kManyTracks);
  broken.resize(broken.size() - 4);
  flvwrite::FlvFile file(false, true);
  file.Tag(9, 0, broken);
  f = Walk(file.bytes());
  QVERIFY(HasProblem(f, ProblemKind::kTagBody, "cut short or inconsistent"));
  QCOMPARE(f.streams.video.frames, int64_t{1});
}

void TestFlvModern::resyncFindsEnhancedTags() {
  const Bytes good = flvwrite::Write({Video(FourCc("hvc1"), kHevc1080, 50)});
  // Zeros over the middle of the file: the walk finds the enhanced tags
  // after them.
  Bytes damaged = good;
  std::fill(damaged.begin() + 15000, damaged.begin() + 20000, 0);
  const Facts f = Walk(damaged);
  QCOMPARE(f.damage.resyncs, int64_t{1});
  QVERIFY(f.streams.video.frames >= 35);
  QCOMPARE(f.streams.video.lastMs, int64_t{49 * 40});
}

QTEST_GUILESS_MAIN(TestFlvModern)
#include "test_flv_modern.moc"
