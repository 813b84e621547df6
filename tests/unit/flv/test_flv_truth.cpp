// What the reader says of damaged and hostile files is true, and costs what
// the media is worth: a file unreadable after its first tag, a length that
// ends with the last frame (not a marker, not a claim), a claim of where the
// tags end, cue points once and bounded, sentences that agree with their
// counts, holes and zeros stepped over, a search for tags that gives up in
// time, and script tags that would crowd the media out of the engine.

#include <QtTest>
#include <regex>

#include "media/flv/report.h"
#include "media/flv/tail.h"
#include "media/flv/walker.h"
#include "unit/flv/flv_builder.h"

using namespace flv_reader;
using flvtest::Builder;
using flvtest::Bytes;

namespace {

Facts Walk(const Bytes& bytes) {
  MemorySource source{std::span<const uint8_t>(bytes)};
  return WalkAll(source);
}

bool Says(const Facts& f, const std::string& text) {
  return Report(f).find(text) != std::string::npos;
}

// A file of gigabytes without the memory: stretches of real bytes, of zeros
// (holes the file system knows of, or zeros written), and of junk, which
// counts the bytes asked of it.
class Stretches final : public ByteSource {
 public:
  enum class Kind { kBytes, kHole, kZeros, kJunk };
  void Add(Kind kind, int64_t length, Bytes bytes = {}) {
    if (kind == Kind::kBytes) length = static_cast<int64_t>(bytes.size());
    parts_.push_back({kind, size_, length, std::move(bytes)});
    size_ += length;
  }
  int64_t Size() const override { return size_; }
  int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const override {
    auto* out = static_cast<uint8_t*>(buffer) - offset;
    const int64_t n = std::clamp<int64_t>(size_ - offset, 0, length);
    read_ += n;
    for (const Part& p : parts_) {
      const int64_t from = std::max(offset, p.at), to = std::min(offset + n, p.at + p.length);
      if (from >= to) continue;
      if (p.kind == Kind::kBytes) {
        std::memcpy(out + from, p.bytes.data() + (from - p.at), static_cast<size_t>(to - from));
      } else if (p.kind == Kind::kJunk) {
        for (int64_t i = from; i < to; ++i) out[i] = static_cast<uint8_t>(0x41 + i % 7);
      } else {
        std::memset(out + from, 0, static_cast<size_t>(to - from));
      }
    }
    return n;
  }
  int64_t NextData(int64_t offset) const override {
    for (const Part& p : parts_) {
      if (p.kind == Kind::kHole && offset >= p.at && offset < p.at + p.length) {
        return p.at + p.length;
      }
    }
    return offset;
  }
  int64_t BytesRead() const { return read_; }

 private:
  struct Part {
    Kind kind;
    int64_t at, length;
    Bytes bytes;
  };
  std::vector<Part> parts_;
  int64_t size_ = 0;
  mutable int64_t read_ = 0;
};

// Tags of one H.263 stream at 25 fps from `fromMs` for `ms`, without the
// file header.
Bytes Frames(uint32_t fromMs, uint32_t ms) {
  Builder b;
  for (uint32_t t = fromMs; t < fromMs + ms; t += 40) b.H263(t, t == fromMs, 320, 240, 3000);
  return Bytes(b.bytes().begin() + 13, b.bytes().end());
}

Bytes Head(uint32_t ms) {
  Bytes head = Builder().Cut(13);
  const Bytes frames = Frames(0, ms);
  head.insert(head.end(), frames.begin(), frames.end());
  return head;
}

}  // namespace

class TestFlvTruth : public QObject {
  Q_OBJECT

 private slots:
  // Text converted as text: a CR before every LF wrecks each tag after the
  // first, and the first's own stream id. That tag is read; the rest is
  // named unreadable, and where it starts.
  void unreadableAfterTheFirstTag() {
    Builder b(0x01);
    for (uint32_t ms = 0; ms < 2000; ms += 100) {
      Bytes body{static_cast<uint8_t>(ms == 0 ? 0x13 : 0x23), 0x30, 0x80, 0x30, 0x60};
      body.resize(300, 0x0a);
      b.Tag(9, ms, body);
    }
    Bytes mangled;
    for (const uint8_t c : b.bytes()) {
      if (c == 0x0a) mangled.push_back(0x0d);
      mangled.push_back(c);
    }
    mangled[23] = 0x13;  // the stream id's last byte
    const Facts f = Walk(mangled);
    QCOMPARE(f.file.tags, int64_t{1});
    QVERIFY2(Says(f, "Video: Screen Video, 128x96, 1 frame"), Report(f).c_str());
    const Problem* rest = f.problems.First(ProblemKind::kTrailingBytes);
    QVERIFY(rest && rest->text.find("unreadable after its first tag") != std::string::npos);
    QCOMPARE(rest->offset, int64_t{13 + 11 + 300 + 4});
    QCOMPARE(ChooseLength(f).source, LengthSource::kMeasured);
    QCOMPARE(ChooseLength(f).ms, int64_t{0});
    // Nothing that makes sense where the tags start: no tag is made up.
    mangled[24] = 0xff;
    QCOMPARE(Walk(mangled).file.tags, int64_t{0});
  }

  // The length ends where the last frame does: a writer's end-of-sequence
  // marker, and a claim that took the marker's time, end sooner than the
  // sound. The tail read of a large file says the same.
  void lengthEndsWithTheLastFrame() {
    Builder b;
    b.Script(0, flvtest::MetaData({{"duration", 10.03}}));
    b.AvcHeader(0, flvtest::BaselineSps(320, 240));
    b.AacConfig(0);
    double audio = 0;
    for (uint32_t video = 0; video <= 10000; video += 40) {
      for (; audio <= video; audio += 1024 * 1000.0 / 44100) b.Aac(static_cast<uint32_t>(audio));
      b.Avc(video, video % 2000 == 0);
    }
    for (; audio < 10520; audio += 1024 * 1000.0 / 44100) b.Aac(static_cast<uint32_t>(audio));
    b.Tag(9, 10030, Bytes{0x17, 2, 0, 0, 0});  // end of sequence
    const Facts f = Walk(b.bytes());
    QVERIFY2(std::llabs(ChooseLength(f).ms - 10541) <= 2,
             std::to_string(ChooseLength(f).ms).c_str());
    MemorySource source{std::span<const uint8_t>(b.bytes())};
    const Facts quick = QuickLook(source, 4096);
    QCOMPARE(quick.file.coverage, Coverage::kQuick);
    QCOMPARE(ChooseLength(quick).ms, ChooseLength(f).ms);
  }

  // A claim that counts from 0 where the tags start late is right about the
  // end; only a claim that fits neither the span nor the end is wrong.
  void claimOfTheEndIsNoError() {
    for (const auto& [claim, wrong] :
         std::vector<std::pair<double, bool>>{{31.0, false}, {25.0, false}, {15.0, true}}) {
      Builder b(0x01);
      b.Script(0, flvtest::MetaData({{"duration", claim}}));
      const Bytes frames = Frames(6000, 25000);
      b.Raw(frames);
      const Facts f = Walk(b.bytes());
      QCOMPARE(f.problems.Has(ProblemKind::kDurationDisagrees), wrong);
      if (wrong)
        QVERIFY2(Says(f, "the tags run from 0:06.0 to 0:31.0 (25.00 s)"), Report(f).c_str());
      QCOMPARE(ChooseLength(f).ms, int64_t{25000});
    }
  }

  // A cue point given in onMetaData and again by a tag, or twice in one, is
  // one; past the bound they are counted, not kept.
  void cuePointsOnceAndBounded() {
    flvtest::Amf0 meta;
    meta.String("onMetaData").Ecma(1).Key("cuePoints").Strict(3);
    for (const auto& [name, time] : {std::pair{"a", 0.5}, {"a", 0.5}, {"b", 1.0}}) {
      meta.Object().Key("name").String(name).Key("time").Number(time).End();
    }
    meta.End();
    Builder b;
    b.Script(0, meta.bytes());
    for (int i = 0; i < 1500; ++i) {
      flvtest::Amf0 cue;
      cue.String("onCuePoint").Object().Key("name").String(i == 0 ? "a" : "c" + std::to_string(i));
      cue.Key("time").Number(i == 0 ? 0.5 : i).End();
      b.Script(i == 0 ? 500 : i * 1000, cue.bytes());
    }
    const Facts f = Walk(b.bytes());
    QCOMPARE(f.scripts.cuePointCount, int64_t{2 + 1499});
    QCOMPARE(f.scripts.cuePoints.size(), size_t{1000});
    QVERIFY(Says(f, "Cue points: 1501 (the first 1000 kept): \"a\" at 0:00.5, \"b\" at 0:01.0, "));
  }

  // One of everything: every sentence takes its noun in the singular.
  void wordsAgreeWithTheirCounts() {
    flvtest::Amf0 meta;
    meta.String("onMetaData").Ecma(1).Key("keyframes").Object();
    meta.Key("filepositions").Strict(1).Number(1).Key("times").Strict(1).Number(0).End().End();
    Builder b;
    b.Script(0, meta.bytes());
    b.AacConfig(0, {0x13, 0x88});  // 22.05 kHz
    b.H263(0, true);
    b.Raw({0x77});
    b.PrevSizeError(1);
    b.Aac(10);
    b.Aac(20);
    const std::string text = Report(Walk(b.bytes()));
    for (const char* singular :
         {"keyframes index of 1 entry", "the one entry checked is wrong", "1 video keyframe\n",
          "skipped 1 byte that holds no tag", "22.05 kHz"}) {
      QVERIFY2(text.find(singular) != std::string::npos, (singular + ("\n" + text)).c_str());
    }
    const std::regex plural("[^0-9.]1 [a-z]+s\\b");
    QVERIFY2(!std::regex_search(text, plural), text.c_str());
  }

  // A 100 GiB hole, and a gigabyte of zeros written, between a head and a
  // tail: both are passed without looking at the hole or at each zero; the
  // tail's tags are found.
  void holesAndZerosCostNothing() {
    for (const auto kind : {Stretches::Kind::kHole, Stretches::Kind::kZeros}) {
      Stretches file;
      file.Add(Stretches::Kind::kBytes, 0, Head(3000));
      file.Add(kind, kind == Stretches::Kind::kHole ? int64_t{100} << 30 : int64_t{1} << 30);
      file.Add(Stretches::Kind::kBytes, 0, Frames(3000, 3000));
      const Facts f = WalkAll(file);
      QCOMPARE(f.streams.video.frames, int64_t{150});
      QCOMPARE(f.damage.noTagRegions.size(), size_t{1});
      if (kind == Stretches::Kind::kHole) QVERIFY(file.BytesRead() < (int64_t{8} << 20));
    }
  }

  // Junk the search must look at byte by byte: past what the media found
  // is worth, the search goes on at the file's last tags and says what it
  // left unsearched.
  void theSearchIsBounded() {
    Stretches file;
    file.Add(Stretches::Kind::kBytes, 0, Head(2000));
    file.Add(Stretches::Kind::kJunk, int64_t{1} << 30);
    file.Add(Stretches::Kind::kBytes, 0, Frames(2000, 2000));
    const Facts f = WalkAll(file);
    QVERIFY2(file.BytesRead() < (int64_t{200} << 20), std::to_string(file.BytesRead()).c_str());
    QCOMPARE(f.streams.video.frames, int64_t{100});
    QVERIFY2(Says(f, "were not searched, up to the file's last tags"), Report(f).c_str());
  }

  // Many script tags before the first picture or sound crowd the media out
  // of the engine's search for streams: all of them are hidden; a few, or
  // any after the media, are not.
  void crowdingScriptTagsAreHidden() {
    for (const int count : {16, 17}) {
      Builder b;
      for (int i = 0; i < count; ++i) {
        b.Script(static_cast<uint32_t>(i * 500),
                 flvtest::Amf0().String("onCuePoint").Null().bytes());
      }
      b.Raw(Frames(0, 1000));
      for (int i = 0; i < 30; ++i)
        b.Script(1000, flvtest::Amf0().String("onCuePoint").Null().bytes());
      const std::vector<HiddenTag> hidden = ScriptTagsToHide(Walk(b.bytes()));
      QCOMPARE(std::ssize(hidden), count > 16 ? count : 0);
      for (const HiddenTag& h : hidden) QCOMPARE(h.reason, HideReason::kCrowdsOutMedia);
    }
  }
};

QTEST_GUILESS_MAIN(TestFlvTruth)
#include "test_flv_truth.moc"
