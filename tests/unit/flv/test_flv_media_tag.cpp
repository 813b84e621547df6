// The tag body reader in both ways FLV is written today: each layout's
// packets, offsets and timing fields, the bounds it keeps whatever a body
// claims, and the test writer's files read back tag by tag.

#include <QtTest>

#include "media/flv/media_tag.h"
#include "support/flv_writer.h"

using namespace flv_reader;
using flvwrite::Bytes;
using flvwrite::ExPacket;
using flvwrite::Layout;

namespace {

Bytes Hex(const char* hex) {
  const QByteArray b = QByteArray::fromHex(hex);
  return Bytes(b.begin(), b.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Fill(size_t n) { return Bytes(n, 0x55); }

std::string Text(uint32_t fourCc) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>(fourCc >> shift);
  return s;
}

// One line per tag: its flags, then each packet as
// "kind codec [tN] [key] [cts=N] [ns=N] @offset+size".
std::string Describe(const MediaTag& tag) {
  static const char* kKinds[] = {"config", "frame",  "end",     "meta",
                                 "chan",   "tsdesc", "unknown", "damaged"};
  std::string out;
  if (tag.enhanced) out += "enh ";
  if (tag.multitrack) out += "multi ";
  if (tag.command) out += "command ";
  if (tag.offsetIgnored) out += "offset-ignored ";
  if (tag.tracksLeftOut) out += "more-tracks ";
  for (size_t i = 0; i < tag.count; ++i) {
    const MediaPacket& p = tag.packets[i];
    if (i > 0) out += "; ";
    out += kKinds[static_cast<int>(p.kind)];
    out += p.audio ? " a:" : " ";
    out += p.fourCc ? Text(p.fourCc) : "id" + std::to_string(p.legacyCodec);
    if (p.packetType != MediaPacket::kNoType) out += " pt" + std::to_string(p.packetType);
    if (p.trackId) out += " t" + std::to_string(p.trackId);
    if (p.keyframe) out += " key";
    if (p.compositionMs) out += " cts=" + std::to_string(p.compositionMs);
    if (p.timestampOffsetNs) out += " ns=" + std::to_string(p.timestampOffsetNs);
    out += " @" + std::to_string(p.payloadOffset) + "+" + std::to_string(p.payloadSize);
  }
  return out;
}

ExPacket Ex(uint8_t type, const char (&fourCc)[5], Bytes payload, uint8_t track = 0,
            int32_t cts = 0) {
  ExPacket p;
  p.type = type;
  p.fourCc = flvwrite::FourCc(fourCc);
  p.payload = std::move(payload);
  p.trackId = track;
  p.compositionMs = cts;
  return p;
}

Bytes Video(int frameType, std::vector<ExPacket> packets, Layout layout = Layout::kSingle,
            std::optional<uint32_t> ns = std::nullopt) {
  return flvwrite::EnhancedBody(false, frameType, packets, layout, ns);
}
Bytes Audio(std::vector<ExPacket> packets, Layout layout = Layout::kSingle,
            std::optional<uint32_t> ns = std::nullopt) {
  return flvwrite::EnhancedBody(true, 1, packets, layout, ns);
}

// Counts the bytes a parse asks for.
class CountingBytes final : public BodyBytes {
 public:
  explicit CountingBytes(const Bytes& bytes) : bytes_(bytes) {}
  std::span<const uint8_t> Get(size_t offset, size_t n) const override {
    if (offset >= bytes_.size()) return {};
    n = std::min(n, bytes_.size() - offset);
    fetched_ += n;
    return {bytes_.data() + offset, n};
  }
  mutable size_t fetched_ = 0;

 private:
  const Bytes& bytes_;
};

}  // namespace

Q_DECLARE_METATYPE(Bytes)

class TestFlvMediaTag : public QObject {
  Q_OBJECT

 private slots:
  void layouts_data();
  void layouts();
  void bounds();
  void writerFilesReadBack_data();
  void writerFilesReadBack();
};

void TestFlvMediaTag::layouts_data() {
  QTest::addColumn<int>("tagType");
  QTest::addColumn<Bytes>("body");
  QTest::addColumn<QString>("expected");
  auto row = [](const char* name, int type, Bytes body, const char* expected) {
    QTest::newRow(name) << type << body << QString(expected);
  };
  // Legacy video.
  row("HEVC id 12 configuration", 9, Hex("1c00000000") + Fill(30), "config id12 pt0 key @5+30");
  row("HEVC id 12 frame, negative composition", 9, Hex("2c01ffffdf") + Fill(9),
      "frame id12 pt1 cts=-33 @5+9");
  row("AVC end of sequence", 9, Hex("1702000000"), "end id7 pt2 key @5+0");
  row("AVC cut in its header", 9, Hex("170100"), "damaged id7 pt1 key @1+0");
  row("HEVC id 12, packet type 3", 9, Hex("1c03000000") + Fill(2), "unknown id12 pt3 key @5+2");
  row("VP6 after its adjustment byte", 9, Hex("1400") + Fill(7), "frame id4 key @2+7");
  row("VP6 alpha after its offset", 9, Hex("2500000010") + Fill(7), "frame id5 @5+7");
  row("VP6 alpha cut", 9, Hex("250000"), "damaged id5 @1+0");
  row("Sorenson H.263", 9, Hex("12") + Fill(4), "frame id2 key @1+4");
  row("reserved codec id 9", 9, Hex("19") + Fill(4), "unknown id9 key @1+4");
  row("command frame", 9, Hex("5700"), "command ");
  row("empty body", 9, {}, "");
  // Legacy audio.
  row("AAC configuration", 8, Hex("af001210"), "config a:id10 pt0 key @2+2");
  row("AAC frame", 8, Hex("af01") + Fill(5), "frame a:id10 pt1 key @2+5");
  row("AAC cut", 8, Hex("af"), "damaged a:id10 key @1+0");
  row("MP3", 8, Hex("2f") + Fill(5), "frame a:id2 key @1+5");
  row("reserved sound format 13", 8, Hex("df") + Fill(5), "unknown a:id13 key @1+5");
  row("silence", 8, {}, "");
  // Enhanced video.
  row("hvc1 SequenceStart", 9, Video(1, {Ex(0, "hvc1", Fill(23))}),
      "enh config hvc1 pt0 key @5+23");
  row("hvc1 CodedFrames with composition", 9, Video(2, {Ex(1, "hvc1", Fill(6), 0, 33)}),
      "enh frame hvc1 pt1 cts=33 @8+6");
  row("hvc1 CodedFramesX", 9, Video(2, {Ex(3, "hvc1", Fill(6))}), "enh frame hvc1 pt3 @5+6");
  row("avc1 CodedFrames", 9, Video(1, {Ex(1, "avc1", Fill(2), 0, -1)}),
      "enh frame avc1 pt1 key cts=-1 @8+2");
  // AV1 and VP9 frames carry no composition time: the payload starts at once.
  row("av01 CodedFrames", 9, Video(1, {Ex(1, "av01", Fill(6))}), "enh frame av01 pt1 key @5+6");
  row("vp09 CodedFrames", 9, Video(2, {Ex(1, "vp09", Fill(6))}), "enh frame vp09 pt1 @5+6");
  row("vp09 SequenceEnd", 9, Video(1, {Ex(2, "vp09", {})}), "enh end vp09 pt2 key @5+0");
  row("Metadata ignores the frame type", 9, Video(1, {Ex(4, "hvc1", Fill(9))}),
      "enh meta hvc1 pt4 @5+9");
  row("MPEG-2 TS descriptor", 9, Video(1, {Ex(5, "av01", Fill(6))}),
      "enh tsdesc av01 pt5 key @5+6");
  row("unknown FourCC", 9, Video(1, {Ex(3, "vvc1", Fill(6))}), "enh unknown vvc1 pt3 key @5+6");
  row("unknown packet type", 9, Video(1, {Ex(9, "hvc1", Fill(6))}),
      "enh unknown hvc1 pt9 key @5+6");
  row("command frame", 9, Hex("d0") + Hex("01"), "enh command ");
  row("hvc1 composition time cut", 9, Hex("9168766331") + Hex("0000"),
      "enh damaged hvc1 pt1 key @0+0");
  row("FourCC cut", 9, Hex("916876"), "enh damaged id-1 @0+0");
  row("ModEx offset", 9, Video(2, {Ex(3, "hvc1", Fill(4))}, Layout::kSingle, 500000),
      "enh frame hvc1 pt3 ns=500000 @10+4");
  row("ModEx offset of 5 ms", 9, Video(2, {Ex(3, "hvc1", Fill(4))}, Layout::kSingle, 5000000),
      "enh offset-ignored frame hvc1 pt3 @10+4");
  {
    Bytes shortModEx = Hex("a7");  // inter frame, ModEx
    flvwrite::PutModEx(shortModEx, 0, 3, 1);
    row("ModEx too short for an offset", 9, shortModEx + Hex("68766331") + Fill(4),
        "enh offset-ignored frame hvc1 pt3 @8+4");
    Bytes wide = Hex("a7ff012b000100") + Fill(297) + Hex("03") + Hex("68766331") + Fill(4);
    row("ModEx of 300 bytes", 9, wide, "enh frame hvc1 pt3 ns=256 @309+4");
    Bytes chained = Hex("a7");
    for (int i = 0; i < 9; ++i) flvwrite::PutModEx(chained, 1000, 7);
    row("ModEx chained nine times", 9, chained + Hex("68766331"), "enh damaged id-1 @0+0");
  }
  // Multitrack video.
  row("one track of many", 9, Video(1, {Ex(3, "hvc1", Fill(4), 3)}, Layout::kOneTrack),
      "enh multi frame hvc1 pt3 t3 key @7+4");
  row("two tracks, one codec", 9,
      Video(2, {Ex(1, "hvc1", Fill(4), 0, 40), Ex(1, "hvc1", Fill(7), 1, -40)},
            Layout::kManyTracks),
      "enh multi frame hvc1 pt1 cts=40 @13+4; frame hvc1 pt1 t1 cts=-40 @24+7");
  row("two tracks, two codecs", 9,
      Video(1, {Ex(1, "hvc1", Fill(4), 0, 20), Ex(1, "av01", Fill(5), 2)},
            Layout::kManyTracksManyCodecs),
      "enh multi frame hvc1 pt1 key cts=20 @13+4; frame av01 pt1 t2 key @25+5");
  {
    Bytes cut = Video(1, {Ex(3, "hvc1", Fill(4)), Ex(3, "hvc1", Fill(8), 1)}, Layout::kManyTracks);
    cut.resize(cut.size() - 2);
    row("second track's size past the end", 9, cut,
        "enh multi frame hvc1 pt3 key @10+4; damaged hvc1 @0+0");
  }
  row("reserved multitrack layout", 9, Hex("9653") + Hex("68766331") + Fill(4),
      "enh multi unknown id-1 pt3 @0+0");
  row("multitrack inside multitrack", 9, Hex("9606") + Fill(4), "enh multi damaged id-1 @0+0");
  // Enhanced audio.
  row("Opus SequenceStart", 8, Audio({Ex(0, "Opus", Fill(19))}), "enh config a:Opus pt0 key @5+19");
  row("mp4a CodedFrames", 8, Audio({Ex(1, "mp4a", Fill(6))}), "enh frame a:mp4a pt1 key @5+6");
  row("fLaC SequenceEnd", 8, Audio({Ex(2, "fLaC", {})}), "enh end a:fLaC pt2 key @5+0");
  row("MultichannelConfig", 8, Audio({Ex(4, "Opus", Hex("0106"))}), "enh chan a:Opus pt4 key @5+2");
  row("unknown audio FourCC", 8, Audio({Ex(1, "alac", Fill(3))}),
      "enh unknown a:alac pt1 key @5+3");
  row("audio ModEx", 8, Audio({Ex(1, "Opus", Fill(3))}, Layout::kSingle, 20833),
      "enh frame a:Opus pt1 key ns=20833 @10+3");
  row("audio tracks", 8,
      Audio({Ex(1, ".mp3", Fill(3), 0), Ex(1, "ac-3", Fill(2), 1)}, Layout::kManyTracksManyCodecs),
      "enh multi frame a:.mp3 pt1 key @10+3; frame a:ac-3 pt1 t1 key @21+2");
  row("audio FourCC cut", 8, Hex("9150"), "enh damaged a:id-1 @0+0");
}

void TestFlvMediaTag::layouts() {
  QFETCH(int, tagType);
  QFETCH(Bytes, body);
  QFETCH(QString, expected);
  const MediaTag tag = ParseMediaTag(static_cast<uint8_t>(tagType), body);
  QCOMPARE(QString::fromStdString(Describe(tag)), expected);
  for (size_t i = 0; i < tag.count; ++i) {
    const MediaPacket& p = tag.packets[i];
    QVERIFY(p.payloadOffset + p.payloadSize <= body.size());
  }
}

void TestFlvMediaTag::bounds() {
  std::vector<ExPacket> many;
  for (uint8_t t = 0; t < 20; ++t) many.push_back(Ex(3, "av01", Fill(1), t));
  const MediaTag tag = ParseMediaTag(9, Video(1, many, Layout::kManyTracks));
  QCOMPARE(tag.count, kMaxPacketsPerTag);
  QVERIFY(tag.tracksLeftOut);
  QCOMPARE(tag.packets[15].trackId, uint8_t{15});
  QCOMPARE(tag.packets[15].payloadOffset, size_t{10 + 15 * 5});

  // Three tracks of 200 KB frames: the parse steps over them by their sizes.
  const Bytes body = Video(1,
                           {Ex(1, "hvc1", Fill(200000), 0, 10), Ex(1, "hvc1", Fill(200000), 1),
                            Ex(1, "hvc1", Fill(200000), 2)},
                           Layout::kManyTracks, 1000);
  CountingBytes bytes(body);
  const MediaTag big = ParseMediaTag(9, body.size(), bytes);
  QCOMPARE(big.count, size_t{3});
  QCOMPARE(big.packets[2].payloadOffset + big.packets[2].payloadSize, body.size());
  QVERIFY2(bytes.fetched_ < 64, qPrintable(QString::number(bytes.fetched_)));
}

void TestFlvMediaTag::writerFilesReadBack_data() {
  QTest::addColumn<int>("dialect");
  QTest::addColumn<int>("layout");
  QTest::addColumn<bool>("firstPlain");
  QTest::addColumn<QStringList>("expected");
  using flvwrite::Dialect;
  QTest::newRow("codec id 12 + AAC")
      << int(Dialect::kCodecId) << int(Layout::kOneTrack) << true
      << QStringList{"config id12 pt0 key @5+4",   "config a:id10 pt0 key @2+2",
                     "frame id12 pt1 key @5+3",    "frame a:id10 pt1 key @2+2",
                     "frame id12 pt1 cts=40 @5+3", "end id12 pt2 key @5+0"};
  QTest::newRow("enhanced, every video track in one tag")
      << int(Dialect::kEnhanced) << int(Layout::kManyTracksManyCodecs) << false
      << QStringList{"enh multi config hvc1 pt0 key @10+4; config av01 pt0 t1 key @22+4",
                     "enh config a:mp4a pt0 key @5+2",
                     "enh multi frame hvc1 pt1 key @13+3; frame av01 pt1 t1 key @24+3",
                     "enh frame a:mp4a pt1 key @5+2",
                     "enh multi frame hvc1 pt1 cts=40 @13+3; frame av01 pt1 t1 @24+3",
                     "enh multi end hvc1 pt2 key @10+0; end av01 pt2 t1 key @18+0"};
}

void TestFlvMediaTag::writerFilesReadBack() {
  QFETCH(int, dialect);
  QFETCH(int, layout);
  QFETCH(bool, firstPlain);
  QFETCH(QStringList, expected);
  using flvwrite::MakePacket;
  flvwrite::Stream hevc = flvwrite::MakeStream(false, flvwrite::FourCc("hvc1"), Fill(4));
  hevc.packets = {MakePacket(0, 0, true, Fill(3)), MakePacket(40, 40, false, Fill(3))};
  flvwrite::Stream av1 = flvwrite::MakeStream(false, flvwrite::FourCc("av01"), Fill(4), 1);
  av1.packets = {MakePacket(0, 0, true, Fill(3)), MakePacket(40, 0, false, Fill(3))};
  flvwrite::Stream aac = flvwrite::MakeStream(true, flvwrite::FourCc("mp4a"), Hex("1210"));
  aac.packets = {MakePacket(0, 0, true, Fill(2))};
  std::vector<flvwrite::Stream> streams{hevc, aac};
  if (dialect == int(flvwrite::Dialect::kEnhanced)) streams.insert(streams.begin() + 1, av1);
  flvwrite::Options o;
  o.dialect = flvwrite::Dialect(dialect);
  o.multitrack = Layout(layout);
  o.firstTrackPlain = firstPlain;
  o.metadata = false;
  const Bytes file = flvwrite::Write(streams, o);
  QStringList got;
  for (size_t at = 13; at + 11 <= file.size();) {
    const size_t size = size_t{file[at + 1]} << 16 | size_t{file[at + 2]} << 8 | file[at + 3];
    const Bytes body(file.begin() + at + 11, file.begin() + at + 11 + size);
    got << QString::fromStdString(Describe(ParseMediaTag(file[at], body)));
    at += 11 + size + 4;
  }
  QCOMPARE(got, expected);
}

QTEST_GUILESS_MAIN(TestFlvMediaTag)
#include "test_flv_media_tag.moc"
