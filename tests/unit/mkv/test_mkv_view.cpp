// The Matroska view of modern FLV files, read back by a small Matroska
// reader: what plays (tracks, each frame's time, key flag and bytes), where
// it is (offsets, Clusters, Cues), the same bytes whatever order they are
// read in, a file that grows, damaged files, and the sequential form.

#include <QtTest>
#include <algorithm>
#include <memory>
#include <random>

#include "media/flv/walker.h"
#include "media/mkv/ebml.h"
#include "media/mkv/file_view.h"
#include "media/mkv/live_muxer.h"
#include "support/flv_writer.h"
#include "support/mkv_reader.h"

namespace {

using flvwrite::Bytes;
using flvwrite::FourCc;

Bytes Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (uint8_t& b : out) b = uint8_t(rng());
  return out;
}

// An hvcC with one VPS, SPS and PPS each, 4-byte NAL lengths.
Bytes Hvcc(uint8_t marker) {
  Bytes c(22, 0);
  c[0] = 1;
  c[21] = 0x03;
  c.push_back(3);
  for (uint8_t type : {32, 33, 34}) {
    c.insert(c.end(), {uint8_t(0x80 | type), 0, 1, 0, 3, uint8_t(type << 1), 1, marker});
  }
  return c;
}

// Video of `seconds` at 30 frames a second, a keyframe a second, with
// composition offsets as B-frames give; sound every 23 ms.
flvwrite::Stream Video(uint32_t fourCc, Bytes config, int seconds, int64_t startMs = 0) {
  flvwrite::Stream s = flvwrite::MakeStream(false, fourCc, std::move(config));
  const bool cts = fourCc == FourCc("hvc1") || fourCc == FourCc("avc1");
  for (int i = 0; i < seconds * 30; ++i) {
    s.packets.push_back(flvwrite::MakePacket(startMs + i * 33, cts ? (i % 3) * 33 : 0, i % 30 == 0,
                                             Noise(200 + (i * 37) % 900, uint32_t(i))));
  }
  return s;
}

flvwrite::Stream Audio(uint32_t fourCc, Bytes config, int seconds, int64_t startMs = 0) {
  flvwrite::Stream s = flvwrite::MakeStream(true, fourCc, std::move(config));
  for (int i = 0; i < seconds * 1000 / 23; ++i) {
    s.packets.push_back(
        flvwrite::MakePacket(startMs + i * 23, 0, true, Noise(50 + i % 300, 7000u + i)));
  }
  return s;
}

const Bytes kAsc{0x12, 0x10};
const Bytes kOpusHead{'O',  'p', 'u',  's',  'H', 'e', 'a', 'd', 1, 2,
                      0x38, 1,   0x80, 0xbb, 0,   0,   0,   0,   0};

// A file that grows: its bytes are a prefix of `all` as long as `size`.
class GrowingSource final : public flv_reader::ByteSource {
 public:
  explicit GrowingSource(Bytes all) : all_(std::move(all)) {}
  int64_t size = 0;
  int64_t Size() const override { return size; }
  int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const override {
    const int64_t n = std::clamp<int64_t>(size - offset, 0, length);
    if (n > 0) std::memcpy(buffer, all_.data() + offset, size_t(n));
    return n;
  }

 private:
  Bytes all_;
};

struct Viewed {
  std::shared_ptr<const mkv::FileView> view;
  Bytes bytes;
  mkvread::File file;
  mkv::ViewStats stats;
};

Viewed View(std::shared_ptr<const flv_reader::ByteSource> source) {
  Viewed v;
  const flv_reader::Facts facts = flv_reader::WalkAll(*source);
  const mkv::Routes routes = mkv::FindRoutes(*source, 13, facts);
  v.view = mkv::FileView::Make(source, facts, routes);
  if (!v.view) return v;
  mkv::MatroskaReader reader(v.view);
  v.bytes.resize(size_t(reader.Size()));
  for (int64_t at = 0; at < int64_t(v.bytes.size());) {
    const int64_t got = reader.Read(at, v.bytes.data() + at, 65536);
    if (got <= 0) {
      v.bytes.resize(size_t(at));
      break;
    }
    at += got;
  }
  v.file = mkvread::Parse(v.bytes);
  v.stats = reader.stats();
  return v;
}

Viewed View(const Bytes& flv) {
  return View(std::make_shared<flv_reader::MemorySource>(Bytes(flv)));
}

// The blocks of one track, as (time, key, bytes).
std::vector<std::tuple<int64_t, bool, Bytes>> Blocks(const mkvread::File& file, uint64_t track) {
  std::vector<std::tuple<int64_t, bool, Bytes>> out;
  for (const mkvread::Block& b : file.blocks) {
    if (b.track == track) out.emplace_back(b.timeMs, b.key, b.data);
  }
  return out;
}

std::vector<std::tuple<int64_t, bool, Bytes>> Expected(const flvwrite::Stream& s) {
  std::vector<std::tuple<int64_t, bool, Bytes>> out;
  for (const flvwrite::Packet& p : s.packets)
    out.emplace_back(p.dtsMs + p.ctsMs, p.key || s.audio, p.data);
  return out;
}

}  // namespace

class MkvViewTest : public QObject {
  Q_OBJECT

 private slots:
  void ebmlSizesAreExact() {
    QCOMPARE(mkv::VintWidth(126), 1);
    QCOMPARE(mkv::VintWidth(127), 2);  // all ones means "unknown"
    QCOMPARE(mkv::VintWidth((uint64_t{1} << 56) - 2), 8);
    for (uint64_t total : {2ull, 3ull, 128ull, 129ull, 130ull, 16385ull, 70000ull}) {
      mkv::Bytes out;
      QVERIFY(mkv::PutVoid(out, total));
      QCOMPARE(out.size(), size_t(total));
      const mkvread::Bytes doc = [&] {
        mkvread::Bytes d{0x1A, 0x45, 0xDF, 0xA3, 0x80, 0x18, 0x53, 0x80, 0x67,
                         0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        d.insert(d.end(), out.begin(), out.end());
        return d;
      }();
      const mkvread::File parsed = mkvread::Parse(doc);
      QVERIFY2(parsed.ok && parsed.voids == 1, qPrintable(QString::number(total)));
    }
    mkv::Bytes one;
    QVERIFY(!mkv::PutVoid(one, 1));
    QVERIFY(one.empty());
  }

  void framesKeepTimesFlagsAndBytes_data() {
    QTest::addColumn<int>("dialect");
    QTest::addColumn<uint32_t>("video");
    QTest::addColumn<uint32_t>("audio");
    QTest::addColumn<QString>("videoCodec");
    QTest::addColumn<QString>("audioCodec");
    QTest::newRow("HEVC+AAC codec id 12") << int(flvwrite::Dialect::kCodecId) << FourCc("hvc1")
                                          << FourCc("mp4a") << "V_MPEGH/ISO/HEVC"
                                          << "A_AAC";
    QTest::newRow("HEVC+AAC enhanced") << int(flvwrite::Dialect::kEnhanced) << FourCc("hvc1")
                                       << FourCc("mp4a") << "V_MPEGH/ISO/HEVC"
                                       << "A_AAC";
    QTest::newRow("AV1+Opus") << int(flvwrite::Dialect::kEnhanced) << FourCc("av01")
                              << FourCc("Opus") << "V_AV1"
                              << "A_OPUS";
    QTest::newRow("VP9+Opus") << int(flvwrite::Dialect::kEnhanced) << FourCc("vp09")
                              << FourCc("Opus") << "V_VP9"
                              << "A_OPUS";
  }
  void framesKeepTimesFlagsAndBytes() {
    QFETCH(int, dialect);
    QFETCH(uint32_t, video);
    QFETCH(uint32_t, audio);
    QFETCH(QString, videoCodec);
    QFETCH(QString, audioCodec);
    const Bytes videoConfig = video == FourCc("hvc1")   ? Hvcc(1)
                              : video == FourCc("av01") ? Bytes{0x81, 0, 0x0c, 0}
                                                        : Bytes{};
    // Timestamps that start late, as a live capture's do.
    const auto v = Video(video, videoConfig, 4, 5606501);
    const auto a = Audio(audio, audio == FourCc("Opus") ? kOpusHead : kAsc, 4, 5606501);
    flvwrite::Options options;
    options.dialect = flvwrite::Dialect(dialect);
    const Bytes flv = flvwrite::Write({v, a}, options);
    const Viewed viewed = View(flv);
    QVERIFY(viewed.view);
    QVERIFY2(viewed.file.ok, viewed.file.error.c_str());
    QCOMPARE(viewed.file.unknownElements, 0);
    QCOMPARE(viewed.file.tracks.size(), size_t(2));
    QCOMPARE(QString::fromStdString(viewed.file.tracks[0].codecId), videoCodec);
    QCOMPARE(QString::fromStdString(viewed.file.tracks[1].codecId), audioCodec);
    QCOMPARE(viewed.file.tracks[0].codecPrivate, videoConfig);
    QCOMPARE(viewed.file.tracks[1].codecPrivate, audio == FourCc("Opus") ? kOpusHead : kAsc);
    QVERIFY(Blocks(viewed.file, 1) == Expected(v));
    QVERIFY(Blocks(viewed.file, 2) == Expected(a));
    QCOMPARE(viewed.stats.dropped, 0);
    // Each tag keeps its size: the view is the file shifted, plus the Cues.
    QCOMPARE(int64_t(viewed.bytes.size()),
             int64_t(flv.size()) - 13 + viewed.view->headerBytes() + viewed.view->cuesBytes());
    // Every Cluster starts at a keyframe.
    for (const uint64_t cluster : viewed.file.clusters) {
      const auto first =
          std::find_if(viewed.file.blocks.begin(), viewed.file.blocks.end(),
                       [&](const auto& b) { return b.at > cluster + viewed.file.segmentData; });
      QVERIFY(first != viewed.file.blocks.end() && first->track == 1 && first->key);
    }
  }

  void cuesPointAtKeyframeClusters() {
    const auto v = Video(FourCc("hvc1"), Hvcc(1), 6);
    flvwrite::Options options;
    options.dialect = flvwrite::Dialect::kCodecId;
    const Viewed viewed = View(flvwrite::Write({v, Audio(FourCc("mp4a"), kAsc, 6)}, options));
    QVERIFY2(viewed.file.ok, viewed.file.error.c_str());
    QVERIFY(viewed.file.cuesPosition > 0);
    // One cue a keyframe; an index entry the view cannot start a Cluster at
    // (a sequence header) repeats a neighbour.
    std::vector<mkvread::Cue> cues = viewed.file.cues;
    cues.erase(std::unique(cues.begin(), cues.end(),
                           [](const auto& a, const auto& b) {
                             return a.clusterPosition == b.clusterPosition;
                           }),
               cues.end());
    QCOMPARE(cues.size(), size_t(6));
    for (size_t i = 0; i < cues.size(); ++i) {
      const mkvread::Cue& cue = cues[i];
      QCOMPARE(cue.timeMs, uint64_t(i * 30 * 33));
      QCOMPARE(cue.track, uint64_t(1));
      const auto cluster =
          std::find(viewed.file.clusters.begin(), viewed.file.clusters.end(), cue.clusterPosition);
      QVERIFY(cluster != viewed.file.clusters.end());
    }
  }

  void anyReadOrderGivesTheSameBytes() {
    flvwrite::Options options;
    options.dialect = flvwrite::Dialect::kCodecId;
    const Bytes flv = flvwrite::Write(
        {Video(FourCc("hvc1"), Hvcc(1), 5), Audio(FourCc("mp4a"), kAsc, 5)}, options);
    const Viewed whole = View(flv);
    std::mt19937 rng(3);
    // Fresh readers, and one reader sent back and forth.
    mkv::MatroskaReader shared(whole.view);
    for (int i = 0; i < 400; ++i) {
      mkv::MatroskaReader fresh(whole.view);
      mkv::MatroskaReader& reader = i % 2 ? shared : fresh;
      const int64_t at =
          std::uniform_int_distribution<int64_t>(0, int64_t(whole.bytes.size()) - 1)(rng);
      Bytes buffer(size_t(std::uniform_int_distribution<int>(1, 70000)(rng)));
      const int64_t got = reader.Read(at, buffer.data(), int64_t(buffer.size()));
      QCOMPARE(got, std::min<int64_t>(int64_t(buffer.size()), int64_t(whole.bytes.size()) - at));
      QVERIFY2(std::equal(buffer.begin(), buffer.begin() + got, whole.bytes.begin() + at),
               qPrintable(QString("at %1").arg(at)));
    }
  }

  void aGrowingFileGrowsItsView() {
    flvwrite::Options options;
    options.dialect = flvwrite::Dialect::kEnhanced;
    const Bytes flv = flvwrite::Write(
        {Video(FourCc("hvc1"), Hvcc(1), 4), Audio(FourCc("Opus"), kOpusHead, 4)}, options);
    auto source = std::make_shared<GrowingSource>(flv);
    source->size = int64_t(flv.size()) / 3;
    const Viewed early = View(source);
    QVERIFY(early.view);
    mkv::MatroskaReader reader(early.view);
    Bytes seen;
    Bytes buffer(50000);
    for (int round = 0; round < 200 && int64_t(seen.size()) < reader.Size(); ++round) {
      const int64_t got = reader.Read(int64_t(seen.size()), buffer.data(), int64_t(buffer.size()));
      QVERIFY(got >= 0);
      // Nothing of a tag that is not whole yet: more comes as the file grows.
      if (got == 0) source->size = std::min<int64_t>(source->size + 7777, int64_t(flv.size()));
      seen.insert(seen.end(), buffer.begin(), buffer.begin() + got);
    }
    QCOMPARE(source->size, int64_t(flv.size()));
    const mkvread::File parsed = mkvread::Parse(seen);
    QVERIFY2(parsed.ok, parsed.error.c_str());
    const Viewed whole = View(flv);
    QVERIFY(Blocks(parsed, 1) == Blocks(whole.file, 1));
    QVERIFY(Blocks(parsed, 2) == Blocks(whole.file, 2));
  }

  void damagedFilesGiveAReadableView_data() {
    QTest::addColumn<int>("damage");
    QTest::newRow("no sequence header") << 0;
    QTest::newRow("configuration cut short") << 1;
    QTest::newRow("unknown FourCC") << 2;
    QTest::newRow("track ids that jump, several tracks") << 3;
    QTest::newRow("absurd ModEx") << 4;
    QTest::newRow("cut mid-tag") << 5;
  }
  void damagedFilesGiveAReadableView() {
    QFETCH(int, damage);
    auto v = Video(FourCc("hvc1"), Hvcc(1), 3);
    flvwrite::Options options;
    std::vector<flvwrite::Stream> streams{v, Audio(FourCc("Opus"), kOpusHead, 3)};
    if (damage == 0) options.sequenceStart = false;
    if (damage == 1) options.configCut = 5;
    if (damage == 2) streams[0].fourCc = FourCc("vvc1");
    if (damage == 3) {
      auto second = Video(FourCc("av01"), {0x81, 0, 0x0c, 0}, 3);
      second.trackId = 200;
      streams.push_back(second);
      options.multitrack = flvwrite::Layout::kManyTracksManyCodecs;
    }
    if (damage == 4) {
      for (auto& p : streams[0].packets) p.offsetNs = 4000000000u;
    }
    Bytes flv = flvwrite::Write(streams, options);
    if (damage == 5) flv.resize(flv.size() * 2 / 3);
    const Viewed viewed = View(flv);
    // The sound plays whatever became of the picture.
    QVERIFY(viewed.view);
    QVERIFY2(viewed.file.ok, viewed.file.error.c_str());
    QCOMPARE(viewed.file.unknownElements, 0);
    QVERIFY(Blocks(viewed.file, 2).size() >= streams[1].packets.size() / (damage == 5 ? 2 : 1));
    const bool picture = damage >= 3;
    QCOMPARE(!Blocks(viewed.file, 1).empty(), picture);
    if (damage == 3) {
      QVERIFY(Blocks(viewed.file, 1) == Expected(v));
      QVERIFY(viewed.stats.otherTrack > 0);
    }
  }

  void soundFarFromAnyClusterIsDroppedAndCounted() {
    // A keyframe, then MP3 sound past the block time's 32.7 s reach, with no
    // room in its tag for a Cluster of its own at that time.
    flvwrite::FlvFile file;
    file.Tag(9, 0,
             flvwrite::EnhancedBody(false, 1,
                                    {{flvwrite::kSequenceStart, FourCc("hvc1"), 0, 0, Hvcc(1)}},
                                    flvwrite::Layout::kSingle));
    file.Tag(9, 70000,
             flvwrite::EnhancedBody(
                 false, 1, {{flvwrite::kCodedFramesX, FourCc("hvc1"), 0, 0, Noise(500, 1)}},
                 flvwrite::Layout::kSingle));
    for (int i = 0; i < 3; ++i) file.Tag(8, 70000 + i * 26, Bytes{0x2f, 1, 2, 3, 4});
    file.Tag(8, 140000, Bytes(400, 0x2f));
    const Viewed viewed = View(file.bytes());
    QVERIFY2(viewed.file.ok, viewed.file.error.c_str());
    QCOMPARE(Blocks(viewed.file, 2).size(), size_t(3));
    QCOMPARE(viewed.stats.dropped, 1);
  }

  void aNewConfigurationReachesTheDecoderInTheStream() {
    flvwrite::FlvFile file;
    const auto body = [](uint8_t type, Bytes payload, int frame = 1) {
      return flvwrite::EnhancedBody(false, frame,
                                    {{type, FourCc("hvc1"), 0, 0, std::move(payload)}},
                                    flvwrite::Layout::kSingle);
    };
    file.Tag(9, 0, body(flvwrite::kSequenceStart, Hvcc(1)));
    file.Tag(9, 0, body(flvwrite::kCodedFramesX, Noise(300, 1)));
    file.Tag(9, 1000, body(flvwrite::kSequenceStart, Hvcc(2)));
    file.Tag(9, 1000, body(flvwrite::kCodedFramesX, Noise(300, 2)));
    const Viewed viewed = View(file.bytes());
    QVERIFY2(viewed.file.ok, viewed.file.error.c_str());
    const auto blocks = Blocks(viewed.file, 1);
    QCOMPARE(blocks.size(), size_t(3));
    // VPS, SPS and PPS of the second record, 4-byte lengths, before its frame.
    const Bytes sets{0, 0, 0, 3, 64, 1, 2, 0, 0, 0, 3, 66, 1, 2, 0, 0, 0, 3, 68, 1, 2};
    QCOMPARE(std::get<2>(blocks[1]), sets);
    QCOMPARE(std::get<0>(blocks[1]), int64_t(1000));
  }

  void theLiveFormCarriesTheSameFrames() {
    flvwrite::Options options;
    options.dialect = flvwrite::Dialect::kCodecId;
    const Bytes flv = flvwrite::Write(
        {Video(FourCc("hvc1"), Hvcc(1), 3), Audio(FourCc("mp4a"), kAsc, 3)}, options);
    mkv::LiveMuxer muxer;
    Bytes out;
    std::mt19937 rng(5);
    for (size_t at = 0; at < flv.size();) {
      const size_t n =
          std::min(flv.size() - at, size_t(std::uniform_int_distribution<int>(1, 9000)(rng)));
      QVERIFY(muxer.Push(std::span<const uint8_t>(flv).subspan(at, n)));
      at += n;
      Bytes chunk(muxer.Pending());
      chunk.resize(muxer.Pull(chunk.data(), chunk.size()));
      out.insert(out.end(), chunk.begin(), chunk.end());
    }
    const mkvread::File live = mkvread::Parse(out);
    QVERIFY2(live.ok, live.error.c_str());
    QVERIFY(live.cues.empty());
    const Viewed viewed = View(flv);
    QVERIFY(Blocks(live, 1) == Blocks(viewed.file, 1));
    QVERIFY(Blocks(live, 2) == Blocks(viewed.file, 2));
    mkv::LiveMuxer notFlv;
    QVERIFY(!notFlv.Push(Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}));
  }
};

QTEST_GUILESS_MAIN(MkvViewTest)
#include "test_mkv_view.moc"
