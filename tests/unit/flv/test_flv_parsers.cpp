// The parsers under the walk: AMF0 and AMF3 with their bounds, what
// onMetaData and cue points yield, picture sizes and sound formats from
// hand-built codec headers, and what the configuration records of today's
// codecs tell, whole, cut short or damaged.

#include <QtTest>
#include <cmath>

#include "media/flv/amf.h"
#include "media/flv/audio_configs.h"
#include "media/flv/codec_headers.h"
#include "media/flv/script_data.h"
#include "media/flv/video_configs.h"
#include "support/codec_records.h"
#include "unit/flv/flv_builder.h"

using namespace flv_reader;
using flvtest::Amf0;
using flvtest::BitWriter;
using flvtest::Bytes;

namespace {

// "WxH p<profile> l<level> <depth>-bit c<chroma>", or "none".
QString Describe(const std::optional<VideoFormat>& f) {
  if (!f) return "none";
  return QString("%1x%2 p%3 l%4 %5-bit c%6")
      .arg(f->size.width)
      .arg(f->size.height)
      .arg(f->profile)
      .arg(f->level)
      .arg(f->bitDepth)
      .arg(f->chromaFormat);
}

// "<rate> Hz <channels> ch <samples>", or "none".
QString Describe(const std::optional<SoundFormat>& f) {
  if (!f) return "none";
  return QString("%1 Hz %2 ch %3").arg(f->sampleRate).arg(f->channels).arg(f->samplesPerFrame);
}

flvwrite::Bytes Cut(flvwrite::Bytes b, size_t keep) {
  b.resize(std::min(keep, b.size()));
  return b;
}

amf::Parsed Parse0(const Bytes& b, amf::Limits limits = {}) { return amf::ParseAmf0(b, limits); }
amf::Parsed Parse3(const Bytes& b, amf::Limits limits = {}) { return amf::ParseAmf3(b, limits); }

Bytes U29(uint32_t v) {
  if (v < 0x80) return {static_cast<uint8_t>(v)};
  if (v < 0x4000) return {static_cast<uint8_t>(0x80 | v >> 7), static_cast<uint8_t>(v & 0x7f)};
  if (v < 0x200000) {
    return {static_cast<uint8_t>(0x80 | v >> 14), static_cast<uint8_t>(0x80 | (v >> 7 & 0x7f)),
            static_cast<uint8_t>(v & 0x7f)};
  }
  return {static_cast<uint8_t>(0x80 | v >> 22), static_cast<uint8_t>(0x80 | (v >> 15 & 0x7f)),
          static_cast<uint8_t>(0x80 | (v >> 8 & 0x7f)), static_cast<uint8_t>(v)};
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Str3(const std::string& s) {
  return U29(static_cast<uint32_t>(s.size()) << 1 | 1) + Bytes(s.begin(), s.end());
}

}  // namespace

class TestFlvParsers : public QObject {
  Q_OBJECT

 private slots:
  void amf0Values();
  void amf0Bounds();
  void amf3Values();
  void amf3Bounds();
  void metadataClaims();
  void h263();
  void vp6();
  void screenVideo();
  void h264Sps();
  void soundFormats();
  void videoConfigs_data();
  void videoConfigs();
  void soundConfigs_data();
  void soundConfigs();
};

void TestFlvParsers::amf0Values() {
  Amf0 a;
  a.Number(1.5).Bool(true).String("hé").Null().Marker(0x06);             // undefined
  a.Marker(0x07).Raw({0, 3});                                            // reference to object 3
  a.Marker(0x0b).Raw({0x42, 0x77, 0x4a, 0x53, 0x7b, 0x70, 0, 0, 0, 0});  // date
  a.Marker(0x0c).Raw({0, 0, 0, 4, 'l', 'o', 'n', 'g'});
  a.Marker(0x0f).Raw({0, 0, 0, 3, '<', 'a', '>'});
  a.Object().Key("x").Number(2).Key("y").Ecma(1).Key("z").String("deep").End().End();
  a.Strict(2).Number(7).String("s");
  a.Marker(0x10).Key("Point").Key("px").Number(3).End();
  a.Marker(0x11).Raw({0x04, 0x85, 0x00});  // AVM+ switch, AMF3 integer 640
  const amf::Parsed p = Parse0(a.bytes());
  QCOMPARE(p.outcome, amf::Outcome::kComplete);
  QCOMPARE(p.bytesRead, a.bytes().size());
  QCOMPARE(p.values.size(), size_t{13});
  using amf::Type;
  const std::vector<Type> types{
      Type::kNumber,      Type::kBoolean,     Type::kString, Type::kNull, Type::kUndefined,
      Type::kReference,   Type::kDate,        Type::kString, Type::kXml,  Type::kObject,
      Type::kStrictArray, Type::kTypedObject, Type::kNumber};
  for (size_t i = 0; i < types.size(); ++i) QCOMPARE(p.values[i].type, types[i]);
  QCOMPARE(p.values[0].number, 1.5);
  QCOMPARE(p.values[2].text, std::string("hé"));
  QCOMPARE(p.values[5].number, 3.0);
  QCOMPARE(p.values[7].text, std::string("long"));
  QCOMPARE(p.values[9].Find("y")->Find("z")->text, std::string("deep"));
  QCOMPARE(p.values[10].items.size(), size_t{2});
  QCOMPARE(p.values[11].text, std::string("Point"));
  QCOMPARE(p.values[11].Find("px")->number, 3.0);
  QCOMPARE(p.values[12].number, 640.0);
  QCOMPARE(p.deepest, 2);
}

void TestFlvParsers::amf0Bounds() {
  // 100000 objects deep: the parser stops at its limit, not at the stack's.
  Amf0 deep;
  for (int i = 0; i < 100000; ++i) deep.Object().Key("k");
  const amf::Parsed tooDeep = Parse0(deep.bytes());
  QCOMPARE(tooDeep.outcome, amf::Outcome::kTooDeep);
  QCOMPARE(tooDeep.deepest, 33);
  QVERIFY(tooDeep.absurd());
  Amf0 limit;
  for (int i = 0; i < 32; ++i) limit.Object().Key("k");
  limit.Null();
  for (int i = 0; i < 32; ++i) limit.End();
  QCOMPARE(Parse0(limit.bytes()).outcome, amf::Outcome::kComplete);

  // Too many values, however they are spread.
  Amf0 many;
  many.Strict(300000);
  for (int i = 0; i < 300000; ++i) many.Null();
  amf::Limits limits;
  limits.maxValues = 1000;
  const amf::Parsed tooMany = Parse0(many.bytes(), limits);
  QCOMPARE(tooMany.outcome, amf::Outcome::kTooManyValues);
  QCOMPARE(tooMany.valueCount, int64_t{1001});

  // Counts claimed beyond the data: nothing is reserved from them.
  Amf0 strict;
  strict.Strict(0xffffffff).Number(1).Number(2);
  const amf::Parsed s = Parse0(strict.bytes());
  QCOMPARE(s.outcome, amf::Outcome::kTruncated);
  QCOMPARE(s.values.at(0).items.size(), size_t{2});
  QVERIFY2(s.detail.find("4294967295") != std::string::npos, s.detail.c_str());
  QVERIFY(!s.oddities.empty());
  Amf0 ecma;
  ecma.Ecma(0xffffffff).Key("a").Number(1).End();
  const amf::Parsed e = Parse0(ecma.bytes());
  QCOMPARE(e.outcome, amf::Outcome::kComplete);
  QCOMPARE(e.values.at(0).members.size(), size_t{1});
  QCOMPARE(e.oddities.size(), size_t{1});

  // Strings longer than the data, unknown markers, missing end markers.
  QCOMPARE(Parse0({0x02, 0xff, 0xff, 'a'}).outcome, amf::Outcome::kTruncated);
  QCOMPARE(Parse0({0x0c, 0xff, 0xff, 0xff, 0xff, 'a'}).outcome, amf::Outcome::kTruncated);
  QCOMPARE(Parse0({0x0e}).outcome, amf::Outcome::kMalformed);
  Amf0 open;
  open.Object().Key("a").Number(1);
  const amf::Parsed o = Parse0(open.bytes());
  QCOMPARE(o.outcome, amf::Outcome::kTruncated);
  QCOMPARE(o.values.at(0).Find("a")->number, 1.0);
  // Kept strings are cut; a second end marker after an object is skipped.
  amf::Limits shortStrings;
  shortStrings.maxStringBytes = 3;
  const amf::Parsed cut = Parse0(Amf0().String("abcdef").bytes(), shortStrings);
  QCOMPARE(cut.values.at(0).text, std::string("abc"));
  QVERIFY(cut.values.at(0).textCut);
  Amf0 doubled;
  doubled.Object().End().Raw({0, 0, 9});
  QCOMPARE(Parse0(doubled.bytes()).outcome, amf::Outcome::kComplete);
}

void TestFlvParsers::amf3Values() {
  // An anonymous object with one sealed member and dynamic ones, a second
  // object reusing its class by reference, strings by reference.
  const Bytes object = Bytes{0x0a} + U29(0x1b) + Str3("") + Str3("name") + Bytes{0x06} +
                       Str3("first") + Str3("extra") + Bytes{0x04} + U29(5) + Str3("");
  const Bytes again = Bytes{0x0a} + U29(0x01) + Bytes{0x06} + U29(2 << 1) + Str3("");
  const Bytes array = Bytes{0x09} + U29(2 << 1 | 1) + Str3("k") + Bytes{0x02} + Str3("") +
                      Bytes{0x04} + U29(0x1fffffff) + Bytes{0x05} +
                      Bytes{0x40, 0x09, 0x21, 0xfb, 0x54, 0x44, 0x2d, 0x18};
  const Bytes vector = Bytes{0x0d} + U29(3 << 1 | 1) + Bytes{0} +
                       Bytes{0xff, 0xff, 0xff, 0xfe, 0, 0, 0, 1, 0, 0, 0, 2};
  const Bytes misc = Bytes{0x00, 0x01, 0x03} + Bytes{0x0c} + U29(3 << 1 | 1) + Bytes{1, 2, 3} +
                     Bytes{0x08} + U29(1) + Bytes{0, 0, 0, 0, 0, 0, 0, 0} + Bytes{0x0a} +
                     U29(0 << 1);  // a reference to object 0
  const amf::Parsed p = Parse3(object + again + array + vector + misc);
  QCOMPARE(p.outcome, amf::Outcome::kComplete);
  QCOMPARE(p.values.size(), size_t{10});
  QCOMPARE(p.values[0].Find("name")->text, std::string("first"));
  QCOMPARE(p.values[0].Find("extra")->number, 5.0);
  QCOMPARE(p.values[1].Find("name")->text, std::string("extra"));
  QCOMPARE(p.values[2].type, amf::Type::kEcmaArray);
  QCOMPARE(p.values[2].Find("k")->number, 0.0);
  QCOMPARE(p.values[2].items.at(0).number, -1.0);  // 29-bit two's complement
  QVERIFY(std::fabs(p.values[2].items.at(1).number - 3.141592653589793) < 1e-12);
  QCOMPARE(p.values[3].items.size(), size_t{3});
  QCOMPARE(p.values[3].items[0].number, -2.0);
  QCOMPARE(p.values[4].type, amf::Type::kUndefined);
  QCOMPARE(p.values[6].number, 1.0);
  QCOMPARE(p.values[7].type, amf::Type::kByteArray);
  QCOMPARE(p.values[7].number, 3.0);
  QCOMPARE(p.values[8].type, amf::Type::kDate);
  QCOMPARE(p.values[9].type, amf::Type::kReference);
}

void TestFlvParsers::amf3Bounds() {
  // Counts far beyond the data: stopped when the data ends.
  QCOMPARE(Parse3(Bytes{0x09} + U29(0x0fffffff << 1 | 1) + Str3("") + Bytes{0x01}).outcome,
           amf::Outcome::kTruncated);
  QCOMPARE(Parse3(Bytes{0x0f} + U29(0x0fffffff << 1 | 1) + Bytes{0, 1, 2}).outcome,
           amf::Outcome::kTruncated);
  QCOMPARE(Parse3(Bytes{0x0a} + U29(0x00ffffff << 4 | 0x3) + Str3("") + Str3("a")).outcome,
           amf::Outcome::kTruncated);
  // References to what was never sent, and objects only their class reads.
  QCOMPARE(Parse3(Bytes{0x06} + U29(7 << 1)).outcome, amf::Outcome::kMalformed);
  QCOMPARE(Parse3(Bytes{0x0a} + U29(5 << 2 | 1)).outcome, amf::Outcome::kMalformed);
  const amf::Parsed ext = Parse3(Bytes{0x0a} + U29(0x07) + Str3("flex.ArrayCollection"));
  QCOMPARE(ext.outcome, amf::Outcome::kMalformed);
  QVERIFY(ext.detail.find("flex.ArrayCollection") != std::string::npos);
  // Nesting through arrays hits the same limit as AMF0.
  Bytes deep;
  for (int i = 0; i < 50000; ++i) deep = deep + (Bytes{0x09} + U29(1 << 1 | 1) + Str3(""));
  QCOMPARE(Parse3(deep).outcome, amf::Outcome::kTooDeep);
}

void TestFlvParsers::metadataClaims() {
  Amf0 a;
  a.Ecma(0).Key("duration").Number(3.089).Key("width").Number(320).Key("height").String("240");
  a.Key("stereo").Bool(false).Key("videocodecid").String("avc1");
  a.Key("keyframes").Object().Key("filepositions").Strict(3).Number(100).Number(2000).Number(3000);
  a.Key("times").Ecma(2).Key("0").Number(0).Key("1").Number(1.5).End().End();
  a.Key("cuePoints").Strict(2).Object().Key("name").String("Cue1").Key("time").Number(0.5);
  a.Key("type").String("event").End().Number(7);
  a.Key("creator").String("someone").End();
  const amf::Parsed p = Parse0(a.bytes());
  QCOMPARE(p.outcome, amf::Outcome::kComplete);
  Metadata m;
  std::vector<CuePoint> cues;
  ScriptBounds bounds;
  bounds.keyframeValues = 2;
  ReadMetadata(p.values.at(0), bounds, m, cues);
  QCOMPARE(m.duration.value(), 3.089);
  QCOMPARE(m.width.value(), 320.0);
  QVERIFY(!m.height);  // a string where a number belongs is no claim
  QCOMPARE(m.stereo.value(), false);
  QCOMPARE(m.videocodecText, std::string("avc1"));
  QCOMPARE(m.keyframePositionCount, int64_t{3});
  QCOMPARE(m.keyframePositions, (std::vector<double>{100, 2000}));
  QCOMPARE(m.keyframeTimeCount, int64_t{2});
  QCOMPARE(m.cuePointCount, int64_t{1});
  QCOMPARE(cues.size(), size_t{1});
  QCOMPARE(cues[0].name, std::string("Cue1"));
  QCOMPARE(cues[0].type, std::string("event"));
  QCOMPARE(cues[0].timeSec, 0.5);
  QVERIFY(cues[0].fromMetadata);
  QCOMPARE(m.strings.size(), size_t{1});
  QCOMPARE(m.strings[0], (std::pair<std::string, std::string>("creator", "someone")));

  const amf::Parsed caption = Parse0(Amf0().Object().Key("text").String("Hello").End().bytes());
  QCOMPARE(ReadCaptionText(caption.values.at(0), 3).value(), std::string("Hel"));
  const amf::Parsed list = Parse0(Amf0().Strict(2).Number(1).String("Hi").bytes());
  QCOMPARE(ReadCaptionText(list.values.at(0), 100).value(), std::string("Hi"));
  QVERIFY(!ReadCaptionText(Parse0(Amf0().Number(1).bytes()).values.at(0), 100));
}

void TestFlvParsers::h263() {
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{352, 288},
                                                             {176, 144},
                                                             {128, 96},
                                                             {320, 240},
                                                             {160, 120},
                                                             {8, 8},
                                                             {264, 95},
                                                             {640, 480}}) {
    const auto size = H263PictureSize(flvtest::H263Picture(w, h));
    QVERIFY(size);
    QCOMPARE(*size, (PictureSize{w, h}));
  }
  Bytes bad = flvtest::H263Picture(320, 240);
  bad[2] ^= 0x80;  // start code broken
  QVERIFY(!H263PictureSize(bad));
  QVERIFY(!H263PictureSize(Bytes{0, 0, 0x84}));  // cut inside the header
  BitWriter zero;
  zero.Bits(1, 17).Bits(0, 5).Bits(0, 8).Bits(0, 3).Bits(0, 16);
  QVERIFY(!H263PictureSize(zero.Finish()));  // a 0x0 picture
}

void TestFlvParsers::vp6() {
  // FLV's adjustment byte crops 4 columns and 13 rows: 300x35 from 19x3
  // macroblocks, as in a real file.
  const Bytes plain{0x4d, 0x00, 0x46, 3, 19, 3, 19};
  QCOMPARE(Vp6PictureSize(plain, false).value(), (PictureSize{300, 35}));
  // With separated coefficients the sizes come after a 2-byte offset.
  const Bytes separated{0x00, 0x01, 0x46, 0x12, 0x34, 15, 20, 15, 20};
  QCOMPARE(Vp6PictureSize(separated, false).value(), (PictureSize{320, 240}));
  // With alpha, a 3-byte offset to the alpha data comes first.
  const Bytes alpha{0x00, 0, 0, 9, 0x00, 0x46, 10, 12, 10, 12};
  QCOMPARE(Vp6PictureSize(alpha, true).value(), (PictureSize{192, 160}));
  QVERIFY(!Vp6PictureSize(Bytes{0x00, 0x80, 0x46, 15, 20}, false));  // inter frame
  QVERIFY(!Vp6PictureSize(Bytes{0x00, 0x00, 0x46, 0, 20}, false));   // no rows
  QVERIFY(!Vp6PictureSize(Bytes{0x00, 0x00, 0x46, 15}, false));      // cut
}

void TestFlvParsers::screenVideo() {
  QCOMPARE(ScreenVideoPictureSize(Bytes{0x31, 0xd2, 0x31, 0x37}).value(), (PictureSize{466, 311}));
  QVERIFY(!ScreenVideoPictureSize(Bytes{0x30, 0x00, 0x30, 0x80}));
  QVERIFY(!ScreenVideoPictureSize(Bytes{0x30, 0x80}));
}

void TestFlvParsers::h264Sps() {
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{
           {1920, 1080}, {854, 480}, {216, 216}, {320, 240}, {176, 144}}) {
    const Bytes sps = flvtest::BaselineSps(w, h);
    QCOMPARE(H264SpsPictureSize(sps).value(), (PictureSize{w, h}));
    QCOMPARE(AvcConfigPictureSize(flvtest::AvcConfig(sps)).value(), (PictureSize{w, h}));
  }
  // High profile, 4:2:0, with a scaling list to step over, interlaced
  // (map units are field pairs) and cropped: 1920x1080i.
  BitWriter w;
  w.Bits(100, 8).Bits(0, 8).Bits(40, 8).Ue(0);
  w.Ue(1).Ue(0).Ue(0).Bits(0, 1).Bits(1, 1);  // chroma 4:2:0, 8 bit, scaling matrix present
  w.Bits(1, 1);                               // the first list is present
  for (int i = 0; i < 16; ++i) w.Se(1);
  for (int i = 1; i < 8; ++i) w.Bits(0, 1);
  w.Ue(0).Ue(2).Ue(4).Bits(0, 1);                     // frame_num, POC type 2, 4 refs
  w.Ue(119).Ue(33).Bits(0, 1).Bits(1, 1).Bits(1, 1);  // 120x34 map units, fields
  w.Bits(1, 1).Ue(0).Ue(0).Ue(0).Ue(2).Bits(0, 1);
  QCOMPARE(H264SpsPictureSize(flvtest::Nal(0x67, w.Finish())).value(), (PictureSize{1920, 1080}));
  // A scaling-list delta of 2^31 - 1, the largest code there is (found by
  // the fuzzer: the sum overflowed); the list still steps over, the size holds.
  BitWriter big;
  big.Bits(100, 8).Bits(0, 8).Bits(40, 8).Ue(0).Ue(1).Ue(0).Ue(0).Bits(0, 1).Bits(1, 1);
  big.Bits(1, 1).Ue(0xFFFFFFFDu);
  for (int i = 1; i < 16; ++i) big.Se(1);
  for (int i = 1; i < 8; ++i) big.Bits(0, 1);
  big.Ue(0).Ue(2).Ue(4).Bits(0, 1).Ue(39).Ue(29).Bits(1, 1).Bits(1, 1).Bits(0, 1).Bits(0, 1);
  QCOMPARE(H264SpsPictureSize(flvtest::Nal(0x67, big.Finish())).value(), (PictureSize{640, 480}));
  // Not an SPS, cut short, or exp-Golomb codes longer than 32 bits.
  QVERIFY(!H264SpsPictureSize(Bytes{0x68, 0xce, 0x3c, 0x80}));
  const Bytes sps = flvtest::BaselineSps(640, 480);
  QVERIFY(!H264SpsPictureSize(Bytes(sps.begin(), sps.begin() + 5)));
  QVERIFY(!H264SpsPictureSize(Bytes{0x67, 66, 0, 30, 0, 0, 0, 0, 0, 0}));
  QVERIFY(!AvcConfigPictureSize(Bytes{1, 66, 0, 30, 0xff, 0xe1, 0x7f, 0xff, 0x67}));
}

void TestFlvParsers::soundFormats() {
  const auto lc = AacConfigFormat(Bytes{0x12, 0x10}).value();
  QCOMPARE(lc.sampleRate, 44100);
  QCOMPARE(lc.channels, 2);
  QCOMPARE(lc.samplesPerFrame, 1024);
  const auto mono48 = AacConfigFormat(Bytes{0x11, 0x88}).value();
  QCOMPARE(mono48.sampleRate, 48000);
  QCOMPARE(mono48.channels, 1);
  const auto sbr =
      AacConfigFormat(Bytes{0x2b, 0x92, 0x08, 0x00}).value();  // HE-AAC, 22.05 kHz core
  QCOMPARE(sbr.sampleRate, 44100);
  QCOMPARE(sbr.samplesPerFrame, 2048);
  // SBR named after the core's configuration, in the sync extension 0x2b7
  // that decoders unaware of it skip; present, absent, and not said at all.
  QCOMPARE(Describe(AacConfigFormat(Bytes{0x13, 0x90, 0x56, 0xe5, 0xa0})), "44100 Hz 2 ch 2048");
  QCOMPARE(Describe(AacConfigFormat(Bytes{0x13, 0x90, 0x56, 0xe4, 0x00})), "22050 Hz 2 ch 1024");
  QCOMPARE(Describe(AacConfigFormat(Bytes{0x13, 0x90})), "22050 Hz 2 ch 1024");
  QVERIFY(!AacConfigFormat(Bytes{0x12}));
  QVERIFY(!AacConfigFormat(Bytes{0x17, 0x90}));  // sample rate index 15 needs 24 more bits

  const auto mpeg1 = MpegAudioFormat(Bytes{0xff, 0xfb, 0x90, 0x64}).value();
  QCOMPARE(mpeg1.sampleRate, 44100);
  QCOMPARE(mpeg1.channels, 2);
  QCOMPARE(mpeg1.samplesPerFrame, 1152);
  const auto mpeg2 = MpegAudioFormat(Bytes{0xff, 0xf3, 0x44, 0xc4}).value();
  QCOMPARE(mpeg2.sampleRate, 24000);
  QCOMPARE(mpeg2.channels, 1);
  QCOMPARE(mpeg2.samplesPerFrame, 576);
  QCOMPARE(MpegAudioFormat(Bytes{0xff, 0xe3, 0x00, 0xc4}).value().sampleRate, 11025);
  QVERIFY(!MpegAudioFormat(Bytes{0xff, 0xeb, 0x90, 0x64}));  // reserved version
  QVERIFY(!MpegAudioFormat(Bytes{0xff, 0xfb, 0x9c, 0x64}));  // reserved rate

  // The flags byte, and the codecs whose rate it does not tell.
  QCOMPARE(AudioFormatFromFlags(0x2f).sampleRate, 44100);
  QCOMPARE(AudioFormatFromFlags(0x2f).channels, 2);
  QCOMPARE(AudioFormatFromFlags(0x26).sampleRate, 11025);
  QCOMPARE(AudioFormatFromFlags(0x52).sampleRate, 8000);
  QCOMPARE(AudioFormatFromFlags(0x4e).sampleRate, 16000);
  QCOMPARE(AudioFormatFromFlags(0x4e).channels, 1);
  QCOMPARE(AudioFormatFromFlags(0xb6).sampleRate, 16000);
  QCOMPARE(AudioFormatFromFlags(0x72).sampleRate, 8000);
  QCOMPARE(AudioFormatFromFlags(0xe2).sampleRate, 8000);
  QCOMPARE(AudioFormatFromFlags(0x62).sampleRate, 5512);
}

void TestFlvParsers::videoConfigs_data() {
  QTest::addColumn<QString>("codec");
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QString>("expected");
  using flvwrite::Av1Shape;
  using flvwrite::HevcShape;
  auto row = [](const char* name, const char* codec, const flvwrite::Bytes& b, QString expected) {
    QTest::newRow(name) << QString(codec)
                        << QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()))
                        << expected;
  };
  const flvwrite::Bytes hevc = flvwrite::HevcRecord(HevcShape{});
  row("hvcC 1080p Main", "hvcC", hevc, "1920x1080 p1 l123 8-bit c1");
  row("hvcC portrait Main 10, three sub-layers", "hvcC",
      flvwrite::HevcRecord(HevcShape{1080, 1920, 2, 150, 10, 1, 3}), "1080x1920 p2 l150 10-bit c1");
  row("hvcC 4:2:2, odd size", "hvcC", flvwrite::HevcRecord(HevcShape{544, 962, 4, 93, 8, 2, 1}),
      "544x962 p4 l93 8-bit c2");
  row("hvcC cut in its SPS", "hvcC", Cut(hevc, hevc.size() - 12), "none");
  flvwrite::Bytes noArrays = Cut(hevc, 23);
  noArrays[22] = 0;
  row("hvcC without parameter sets", "hvcC", noArrays, "0x0 p1 l123 8-bit c1");
  row("hvcC with 3-byte lengths", "hvcC", flvwrite::HevcRecord(HevcShape{}, 2), "none");
  flvwrite::Bytes version0 = hevc;
  version0[0] = 0;
  row("hvcC version 0", "hvcC", version0, "none");
  const flvwrite::Bytes av1 = flvwrite::Av1Record(Av1Shape{});
  row("av1C 1080p Main", "av1C", av1, "1920x1080 p0 l8 8-bit c1");
  row("av1C 1440p 10-bit with timing info", "av1C",
      flvwrite::Av1Record(Av1Shape{2560, 1440, 0, 12, 10, true}), "2560x1440 p0 l12 10-bit c1");
  row("av1C Professional 12-bit", "av1C", flvwrite::Av1Record(Av1Shape{640, 360, 2, 4, 12, false}),
      "640x360 p2 l4 12-bit c1");
  row("av1C without its sequence header", "av1C", Cut(av1, 4), "0x0 p0 l8 8-bit c1");
  row("av1C with its OBU cut", "av1C", Cut(av1, av1.size() - 3), "0x0 p0 l8 8-bit c1");
  row("av1C cut in its header", "av1C", Cut(av1, 3), "none");
  // A temporal unit: delimiter, then the sequence header.
  flvwrite::Bytes unit{0x12, 0x00};
  flvwrite::Append(unit, flvwrite::Av1SequenceHeader(Av1Shape{1280, 720, 0, 5, 8, false}));
  row("AV1 key frame's sequence header", "obus", unit, "1280x720 p0 l5 0-bit c-1");
  row("AV1 OBU size past the end", "obus", flvwrite::Bytes{0x12, 0x05, 0x00}, "none");
  row("vpcC profile 2, 10-bit", "vpcC", flvwrite::VpcRecord(2, 31, 10), "0x0 p2 l31 10-bit c1");
  row("vpcC 4:4:4", "vpcC", flvwrite::VpcRecord(1, 40, 8, 3), "0x0 p1 l40 8-bit c3");
  row("vpcC bit depth 9", "vpcC", flvwrite::VpcRecord(0, 10, 9), "none");
  row("vpcC cut", "vpcC", Cut(flvwrite::VpcRecord(0, 10, 8), 11), "none");
  row("VP9 key frame", "vp9", flvwrite::Vp9KeyFrame(1920, 1080), "1920x1080 p0 l-1 8-bit c1");
  row("VP9 profile 3 12-bit key frame", "vp9", flvwrite::Vp9KeyFrame(854, 480, 3, 12),
      "854x480 p3 l-1 12-bit c2");
  flvwrite::Bytes inter = flvwrite::Vp9KeyFrame(320, 240);
  inter[0] |= 0x04;  // frame_type 1
  row("VP9 inter frame", "vp9", inter, "none");
  row("VP9 key frame cut", "vp9", Cut(flvwrite::Vp9KeyFrame(320, 240), 7), "none");
  // Start code, then 14-bit sizes under 2 bits of scaling, little-endian.
  const flvwrite::Bytes vp8{0x10, 0x02, 0x00, 0x9d, 0x01, 0x2a, 0x80, 0x42, 0x68, 0x81};
  row("VP8 key frame, scaled", "vp8", vp8, "640x360 p-1 l-1 0-bit c-1");
  flvwrite::Bytes vp8Inter = vp8;
  vp8Inter[0] |= 1;
  row("VP8 inter frame", "vp8", vp8Inter, "none");
}

void TestFlvParsers::videoConfigs() {
  QFETCH(QString, codec);
  QFETCH(QByteArray, bytes);
  QFETCH(QString, expected);
  const std::span<const uint8_t> b(reinterpret_cast<const uint8_t*>(bytes.data()),
                                   size_t(bytes.size()));
  std::optional<VideoFormat> format;
  if (codec == "hvcC") {
    const auto config = ParseHevcConfig(b);
    if (config) format = config->format;
    if (config) QCOMPARE(config->lengthSize, 4);
  } else if (codec == "av1C") {
    if (const auto config = ParseAv1Config(b)) format = config->format;
  } else if (codec == "obus") {
    format = Av1SequenceHeaderFormat(b);
  } else if (codec == "vpcC") {
    format = ParseVpConfig(b);
  } else if (codec == "vp8") {
    if (const auto size = Vp8FramePictureSize(b)) format = VideoFormat{*size};
  } else {
    format = Vp9FrameFormat(b);
  }
  QCOMPARE(Describe(format), expected);
}

void TestFlvParsers::soundConfigs_data() {
  QTest::addColumn<QString>("codec");
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QString>("expected");
  auto row = [](const char* name, const char* codec, const flvwrite::Bytes& b, QString expected) {
    QTest::newRow(name) << QString(codec)
                        << QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()))
                        << expected;
  };
  row("OpusHead stereo", "opus", flvwrite::OpusHead(2), "48000 Hz 2 ch 0");
  row("OpusHead 5.1 from 44.1 kHz", "opus", flvwrite::OpusHead(6, 44100), "44100 Hz 6 ch 0");
  row("OpusHead 5.1 without its mapping", "opus", Cut(flvwrite::OpusHead(6), 22), "none");
  row(
      "OpusHead three channels in family 0", "opus",
      [] {
        flvwrite::Bytes b = flvwrite::OpusHead(2);
        b[9] = 3;
        return b;
      }(),
      "none");
  row(
      "OpusHead version 16", "opus",
      [] {
        flvwrite::Bytes b = flvwrite::OpusHead(2);
        b[8] = 16;
        return b;
      }(),
      "none");
  row("fLaC 96 kHz 24-bit stereo", "flac", flvwrite::FlacRecord(96000, 2, 24),
      "96000 Hz 2 ch 4096");
  flvwrite::Bytes bare = flvwrite::FlacRecord(44100, 1, 16);
  bare.erase(bare.begin(), bare.begin() + 4);
  row("STREAMINFO without its signature", "flac", bare, "44100 Hz 1 ch 4096");
  row("STREAMINFO cut", "flac", Cut(flvwrite::FlacRecord(44100, 2, 16), 30), "none");
  row("MultichannelConfig, native order", "channels", flvwrite::Bytes{1, 6, 0, 0, 0, 0x3f},
      "0 Hz 6 ch 0");
  row("MultichannelConfig, custom order cut", "channels", flvwrite::Bytes{2, 4, 0, 1}, "none");
  // 48 kHz, 3/2 with LFE: acmod 7 sets both mix levels before the LFE bit.
  row("AC-3 5.1", "ac3", flvwrite::Bytes{0x0b, 0x77, 0, 0, 0x0e, 0x40, 0xe1, 0x40},
      "48000 Hz 6 ch 1536");
  row("AC-3 reserved rate", "ac3", flvwrite::Bytes{0x0b, 0x77, 0, 0, 0xce, 0x40, 0x40, 0}, "none");
  // E-AC-3, 44.1 kHz, six blocks, stereo.
  row("E-AC-3 stereo", "ac3", flvwrite::Bytes{0x0b, 0x77, 0x00, 0xff, 0x74, 0x80, 0, 0},
      "44100 Hz 2 ch 1536");
  row("E-AC-3 at half rate", "ac3", flvwrite::Bytes{0x0b, 0x77, 0x00, 0xff, 0xd4, 0x80, 0, 0},
      "22050 Hz 2 ch 1536");
}

void TestFlvParsers::soundConfigs() {
  QFETCH(QString, codec);
  QFETCH(QByteArray, bytes);
  QFETCH(QString, expected);
  const std::span<const uint8_t> b(reinterpret_cast<const uint8_t*>(bytes.data()),
                                   size_t(bytes.size()));
  std::optional<SoundFormat> format;
  if (codec == "opus") {
    if (const auto c = ParseOpusHead(b)) format = SoundFormat{c->inputSampleRate, c->channels, 0};
  } else if (codec == "flac") {
    if (const auto c = ParseFlacConfig(b)) format = c->format;
  } else if (codec == "channels") {
    if (const auto n = ChannelConfigChannels(b)) format = SoundFormat{0, *n, 0};
  } else if (const auto c = Ac3FrameFormat(b)) {
    format = c->format;
  }
  QCOMPARE(Describe(format), expected);
}

QTEST_GUILESS_MAIN(TestFlvParsers)
#include "test_flv_parsers.moc"
