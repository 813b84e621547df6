// The FLV reader on files made in the test: header checks, the tail read,
// the walk through damage, resumed and sliced walks, the length decision and
// the script tags to hide.

#include <fcntl.h>
#include <unistd.h>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <limits>

#include "media/flv/report.h"
#include "media/flv/tail.h"
#include "media/flv/text_format.h"
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

int64_t Count(const Facts& f, ProblemKind kind) { return f.problems.Count(kind); }

// Audio and video interleaved as a recorder writes them: MP3 every 26 ms
// and H.263 at 25 fps with a keyframe every second, from `fromMs` for
// `ms`.
void Interleave(Builder& b, uint32_t fromMs, uint32_t ms) {
  uint32_t audio = fromMs;
  for (uint32_t video = fromMs; video < fromMs + ms; video += 40) {
    for (; audio <= video; audio += 26) b.Mp3(audio);
    b.H263(video, (video - fromMs) % 1000 == 0);
  }
}

}  // namespace

class TestFlvWalk : public QObject {
  Q_OBJECT

 private slots:
  void header_data();
  void header();
  void dataOffsetWrong();
  void tailOfCutFile();
  void tailAlone();
  void tailAfterGarbageAndWrongSizes();
  void timestampsLeapAndStepBack();
  void lateStart();
  void codecChangeAndGluedRecordings();
  void zerosAndGarbage();
  void previousTagSizesAllWrong();
  void resumedAfterGrowth();
  void slicedAndCancelled();
  void readError();
  void lengthDecision_data();
  void lengthDecision();
  void absurdScriptData();
  void claimedKeyframeIndex();
  void report();
};

void TestFlvWalk::header_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<bool>("isFlv");
  QTest::addColumn<int>("kind");  // a problem the header must give, or -1
  const auto raw = [](const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()));
  };
  Builder good(0x04);
  good.Mp3(0);
  QTest::newRow("good") << raw(good.bytes()) << true << -1;
  Bytes v2 = good.bytes();
  v2[3] = 2;
  QTest::newRow("version 2") << raw(v2) << true << static_cast<int>(ProblemKind::kHeader);
  Builder reserved(0x0d);
  reserved.Mp3(0);
  QTest::newRow("reserved bits") << raw(reserved.bytes()) << true
                                 << static_cast<int>(ProblemKind::kHeader);
  QTest::newRow("header only") << raw(Builder(0x05).Cut(9)) << true
                               << static_cast<int>(ProblemKind::kHeaderOnly);
  QTest::newRow("header cut") << QByteArray("FLV\x01\x05", 5) << true
                              << static_cast<int>(ProblemKind::kHeader);
  QTest::newRow("not FLV") << QByteArray("FLX\x01\x05\0\0\0\x09\0\0\0\0", 13) << false
                           << static_cast<int>(ProblemKind::kNotFlv);
  QTest::newRow("empty") << QByteArray() << false << static_cast<int>(ProblemKind::kNotFlv);
  Builder flagsLie(0x01);  // says video only, holds audio
  flagsLie.Mp3(0);
  QTest::newRow("flags disagree") << raw(flagsLie.bytes()) << true
                                  << static_cast<int>(ProblemKind::kHeader);
}

void TestFlvWalk::header() {
  QFETCH(QByteArray, bytes);
  QFETCH(bool, isFlv);
  QFETCH(int, kind);
  const Bytes data(bytes.begin(), bytes.end());
  const Facts f = Walk(data);
  QCOMPARE(f.file.isFlv, isFlv);
  QCOMPARE(f.file.coverage, Coverage::kComplete);
  if (kind >= 0) QVERIFY(Count(f, static_cast<ProblemKind>(kind)) > 0);
  if (kind < 0) QCOMPARE(f.problems.Total(), int64_t{0});
}

void TestFlvWalk::dataOffsetWrong() {
  // A data offset of 0 is wrong, yet the tags are where they always are.
  Builder b;
  Interleave(b, 0, 1000);
  Bytes bytes = b.bytes();
  bytes[8] = 0;
  const Facts wrong = Walk(bytes);
  QCOMPARE(Count(wrong, ProblemKind::kDataOffset), int64_t{1});
  QCOMPARE(wrong.file.tags, Walk(b.bytes()).file.tags);

  // A larger data offset with the tags after it is allowed.
  Builder extended(0x04, 20);
  extended.Mp3(0);
  extended.Mp3(26);
  const Facts f = Walk(extended.bytes());
  QCOMPARE(f.file.tags, int64_t{2});
  QCOMPARE(f.problems.Total(), int64_t{0});
}

void TestFlvWalk::tailOfCutFile() {
  Builder b;
  Interleave(b, 0, 3000);
  const size_t lastAudio = b.Mp3(3000);
  const size_t cutAt = b.H263(3040, false, 320, 240, 4000);
  const Bytes cut = b.Cut(b.size() - 2000);
  MemorySource source{std::span<const uint8_t>(cut)};

  const TailInfo tail = ReadTail(source);
  QVERIFY(tail.found);
  QVERIFY(tail.lastTagCut);
  QCOMPARE(tail.cutTagOffset, static_cast<int64_t>(cutAt));
  QCOMPARE(tail.cutTagMs, int64_t{3040});
  QCOMPARE(tail.lastTagOffset, static_cast<int64_t>(lastAudio));
  QCOMPARE(tail.lastAudioMs, int64_t{3000});
  QCOMPARE(tail.lastVideoMs, int64_t{2960});

  // The walk says the same, and where the content ends.
  const Facts f = WalkAll(source);
  QVERIFY(f.damage.lastTagCut);
  QCOMPARE(f.damage.cutTagOffset, static_cast<int64_t>(cutAt));
  const Problem* p = f.problems.First(ProblemKind::kLastTagCut);
  QVERIFY(p);
  QCOMPARE(p->timeMs, int64_t{3040});
  QVERIFY2(p->text.find("ends at 0:03.0") != std::string::npos, p->text.c_str());
  QCOMPARE(f.streams.audio.lastMs, int64_t{3000});
}

void TestFlvWalk::tailAlone() {
  // An http client holds only the last 64 KiB: the answer is the same as
  // from the whole file, offsets included.
  Builder b;
  Interleave(b, 0, 60000);
  const Bytes& all = b.bytes();
  MemorySource whole{std::span<const uint8_t>(all)};
  const size_t from = all.size() - 65536;
  MemorySource tailOnly(std::span<const uint8_t>(all.data() + from, 65536),
                        static_cast<int64_t>(from), static_cast<int64_t>(all.size()));
  const TailInfo a = ReadTail(whole), t = ReadTail(tailOnly);
  QVERIFY(t.found && t.followedPrevTagSizes && t.reachesFileEnd);
  QCOMPARE(t.lastTagOffset, a.lastTagOffset);
  QCOMPARE(t.lastVideoMs, int64_t{59960});
  QCOMPARE(t.lastAudioMs, a.lastAudioMs);
  QCOMPARE(t.endMs, std::max(t.lastAudioMs, t.lastVideoMs));

  // A window smaller than the last tag: a few small reads find its header.
  Builder big;
  big.Mp3(0);
  big.H263(40, true, 320, 240, 200000);
  MemorySource bigSource{std::span<const uint8_t>(big.bytes())};
  TailOptions small;
  small.bytes = 4096;
  const TailInfo t2 = ReadTail(bigSource, small);
  QCOMPARE(t2.lastVideoMs, int64_t{40});
  QCOMPARE(t2.lastAudioMs, int64_t{0});
}

void TestFlvWalk::tailAfterGarbageAndWrongSizes() {
  Builder b;
  Interleave(b, 0, 2000);
  b.Raw(flvtest::Garbage(3000));
  MemorySource garbage{std::span<const uint8_t>(b.bytes())};
  const TailInfo g = ReadTail(garbage);
  QVERIFY(g.found);
  QVERIFY(!g.followedPrevTagSizes);
  QVERIFY(!g.lastTagCut);
  QCOMPARE(g.trailingBytes, int64_t{3000});
  QCOMPARE(g.lastVideoMs, int64_t{1960});

  // Every PreviousTagSize 4 too large: the chain back leads nowhere, the
  // walk forward finds the tags.
  Builder w;
  w.PrevSizeError(4);
  Interleave(w, 0, 2000);
  MemorySource wrong{std::span<const uint8_t>(w.bytes())};
  const TailInfo t = ReadTail(wrong);
  QVERIFY(t.found && !t.followedPrevTagSizes);
  QCOMPARE(t.lastVideoMs, int64_t{1960});
  QCOMPARE(t.trailingBytes, int64_t{0});
}

void TestFlvWalk::timestampsLeapAndStepBack() {
  Builder b;
  Interleave(b, 0, 2000);
  const size_t leapAt = b.Mp3(60000);
  b.H263(60000, true);
  Interleave(b, 60040, 1000);
  const size_t backAt = b.H263(59000, false);
  const Facts f = Walk(b.bytes());
  QCOMPARE(f.streams.audio.leaps, int64_t{1});
  QCOMPARE(f.streams.video.leaps, int64_t{1});
  QCOMPARE(f.streams.video.backwards, int64_t{1});
  QCOMPARE(f.streams.audio.backwards, int64_t{0});
  const Problem* leap = f.problems.First(ProblemKind::kTimestampLeap);
  QVERIFY(leap);
  QCOMPARE(leap->offset, static_cast<int64_t>(leapAt));
  QCOMPARE(leap->timeMs, int64_t{60000});
  const Problem* back = f.problems.First(ProblemKind::kTimestampBackwards);
  QVERIFY(back);
  QCOMPARE(back->offset, static_cast<int64_t>(backAt));
  // The span counts the leap; the content does not.
  QVERIFY(f.clock.durationMs > 61000);
  QVERIFY2(f.clock.contentMs < 3200, std::to_string(f.clock.contentMs).c_str());
}

void TestFlvWalk::lateStart() {
  Builder b;
  b.Script(0, flvtest::MetaData({{"duration", 10.0}}));
  Interleave(b, 5000, 10000);
  const Facts f = Walk(b.bytes());
  QCOMPARE(f.clock.firstMs, int64_t{5000});
  QCOMPARE(f.streams.audio.firstMs, int64_t{5000});
  QVERIFY2(std::llabs(f.clock.durationMs - 10000) <= 40,
           std::to_string(f.clock.durationMs).c_str());
  QCOMPARE(Count(f, ProblemKind::kDurationDisagrees), int64_t{0});
  const LengthChoice length = ChooseLength(f);
  QCOMPARE(length.source, LengthSource::kMeasured);
  QCOMPARE(length.startMs, int64_t{5000});
  QCOMPARE(length.ms, f.clock.durationMs);
  QVERIFY(std::fabs(f.streams.video.frameRate - 25) < 0.01);
}

void TestFlvWalk::codecChangeAndGluedRecordings() {
  Builder b;
  for (uint32_t ms = 0; ms < 1000; ms += 40) b.H263(ms, ms == 0);
  const size_t changeAt = b.Vp6(1000, true);
  for (uint32_t ms = 1040; ms < 2000; ms += 40) b.Vp6(ms, false);
  b.Mp3(1990);
  const size_t glueAt = b.size();
  b.GluedHeader();
  b.Mp3(0);
  for (uint32_t ms = 0; ms < 3000; ms += 40) b.Vp6(ms, ms == 0);
  const Facts f = Walk(b.bytes());
  // Read as it is written, with a pause inside the second header.
  flvtest::GrowingSource growing(b.bytes());
  Walker walker(growing);
  for (const size_t shown : {glueAt + 6, glueAt + 12, b.size()}) {
    growing.Show(shown);
    QCOMPARE(walker.Walk(), WalkStatus::kEndOfData);
  }
  QCOMPARE(Report(walker.Snapshot()), Report(f));
  const Problem* change = f.problems.First(ProblemKind::kCodecChange);
  QVERIFY(change);
  QCOMPARE(change->offset, static_cast<int64_t>(changeAt));
  QCOMPARE(f.streams.video.codecId, 2);
  QCOMPARE(f.streams.video.codecIds, (std::vector<int>{2, 4}));
  QCOMPARE(f.damage.secondHeaders, int64_t{1});
  QCOMPARE(f.problems.First(ProblemKind::kSecondHeader)->offset, static_cast<int64_t>(glueAt));
  // A glued recording starts its clock afresh: that is no step back, and
  // its frames count toward the content.
  QCOMPARE(f.streams.video.backwards + f.streams.audio.backwards, int64_t{0});
  QCOMPARE(f.streams.video.frames, int64_t{25 + 25 + 75});
  QVERIFY(f.clock.contentMs >= 4900);
  QCOMPARE(f.damage.bytesSkipped, int64_t{0});
}

void TestFlvWalk::zerosAndGarbage() {
  Builder b;
  Interleave(b, 0, 1000);
  const size_t zerosAt = b.size();
  b.Zeros(100000);
  Interleave(b, 1000, 1000);
  const size_t garbageAt = b.size();
  b.Raw(flvtest::Garbage(777));
  Interleave(b, 2000, 1000);
  const Facts f = Walk(b.bytes());

  Builder clean;
  for (const uint32_t from : {0, 1000, 2000}) Interleave(clean, from, 1000);
  QCOMPARE(f.file.tags, Walk(clean.bytes()).file.tags);
  QCOMPARE(f.damage.resyncs, int64_t{2});
  QCOMPARE(f.damage.bytesSkipped, int64_t{100777});
  QCOMPARE(Count(f, ProblemKind::kZeroFilled), int64_t{1});
  const Problem* zeros = f.problems.First(ProblemKind::kZeroFilled);
  QCOMPARE(zeros->offset, static_cast<int64_t>(zerosAt));
  QVERIFY2(zeros->text.find("97.7 KiB") != std::string::npos, zeros->text.c_str());
  std::vector<int64_t> skippedAt;
  for (const Problem& p : f.problems.Kept()) {
    if (p.kind == ProblemKind::kResync) skippedAt.push_back(p.offset);
  }
  QCOMPARE(skippedAt,
           (std::vector<int64_t>{static_cast<int64_t>(zerosAt), static_cast<int64_t>(garbageAt)}));
  QCOMPARE(f.streams.video.leaps + f.streams.audio.leaps, int64_t{0});
}

void TestFlvWalk::previousTagSizesAllWrong() {
  Builder b;
  b.PrevSizeError(4);
  Interleave(b, 0, 4000);
  const Facts f = Walk(b.bytes());
  Builder clean;
  Interleave(clean, 0, 4000);
  QCOMPARE(f.file.tags, Walk(clean.bytes()).file.tags);
  QCOMPARE(f.damage.prevTagSizes.wrong, f.damage.prevTagSizes.checked);
  QVERIFY(f.damage.prevTagSizes.allWrongBySame);
  QCOMPARE(f.damage.prevTagSizes.delta, int64_t{4});
  QCOMPARE(f.damage.resyncs, int64_t{0});
  QVERIFY(Report(f).find("each by +4 bytes") != std::string::npos);

  // One wrong field among good ones is damage, not a habit.
  Builder one;
  Interleave(one, 0, 1000);
  one.PrevSizeError(-100);
  one.Mp3(1000);
  one.PrevSizeError(0);
  Interleave(one, 1040, 1000);
  const Facts g = Walk(one.bytes());
  QCOMPARE(g.damage.prevTagSizes.wrong, int64_t{1});
  QVERIFY(!g.damage.prevTagSizes.allWrongBySame);
  QCOMPARE(g.damage.resyncs, int64_t{0});
}

void TestFlvWalk::resumedAfterGrowth() {
  Builder b;
  b.Script(0, flvtest::MetaData({{"duration", 0.0}}));
  Interleave(b, 0, 8000);
  const Bytes& all = b.bytes();

  // A recording on disk, appended to while it is walked.
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const std::string path = dir.filePath("recording.flv").toStdString();
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  QVERIFY(fd >= 0);
  auto source = FileSource::Open(path);
  QVERIFY(source);
  Walker walker(*source);
  size_t written = 0;
  bool sawCut = false;
  for (const size_t step : {5u, 400u, 1777u, 20000u, 3u, 65536u, 100000u}) {
    const size_t n = std::min(step, all.size() - written);
    QCOMPARE(::write(fd, all.data() + written, n), static_cast<ssize_t>(n));
    written += n;
    QCOMPARE(walker.Walk(), WalkStatus::kEndOfData);
    const Facts now = walker.Snapshot();
    sawCut = sawCut || now.damage.lastTagCut;
    QVERIFY(now.clock.lastMs <= 8000);
  }
  while (written < all.size()) {
    const size_t n = std::min<size_t>(30000, all.size() - written);
    QCOMPARE(::write(fd, all.data() + written, n), static_cast<ssize_t>(n));
    written += n;
    QCOMPARE(walker.Walk(), WalkStatus::kEndOfData);
  }
  ::close(fd);
  QVERIFY(sawCut);  // some step ended inside a tag
  const Facts resumed = walker.Snapshot();
  const Facts once = Walk(all);
  QCOMPARE(Report(resumed), Report(once));
  QCOMPARE(resumed.file.tags, once.file.tags);
  QCOMPARE(resumed.index.entries, once.index.entries);
  QVERIFY(!resumed.damage.lastTagCut);
  QCOMPARE(resumed.problems.Total(), once.problems.Total());
  // A live recorder left the duration 0: the measured length is what counts.
  QCOMPARE(ChooseLength(resumed).source, LengthSource::kMeasured);
}

void TestFlvWalk::slicedAndCancelled() {
  Builder b;
  Interleave(b, 0, 3000);
  b.Zeros(5000);
  Interleave(b, 3000, 3000);
  MemorySource source{std::span<const uint8_t>(b.bytes())};
  const Facts once = WalkAll(source);

  Walker sliced(source);
  int calls = 0;
  WalkBudget budget;
  budget.maxTags = 7;
  budget.maxBytes = 3000;
  while (sliced.Walk(budget) == WalkStatus::kBudgetSpent) {
    ++calls;
    QCOMPARE(sliced.Snapshot().file.coverage, Coverage::kPartial);
  }
  QVERIFY(calls > 20);
  QCOMPARE(Report(sliced.Snapshot()), Report(once));

  std::atomic<bool> cancel{true};
  Walker cancelled(source);
  WalkBudget stop;
  stop.cancel = &cancel;
  QCOMPARE(cancelled.Walk(stop), WalkStatus::kCancelled);
  cancel = false;
  QCOMPARE(cancelled.Walk(stop), WalkStatus::kEndOfData);
  QCOMPARE(Report(cancelled.Snapshot()), Report(once));
}

void TestFlvWalk::readError() {
  // A disk that fails past some offset: the walk says so and where, and
  // goes on once the bytes can be read.
  class Failing final : public ByteSource {
   public:
    explicit Failing(const Bytes& bytes) : bytes_(bytes) {}
    int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
    int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const override {
      if (offset + length > failFrom) return -1;
      std::memcpy(buffer, bytes_.data() + offset, static_cast<size_t>(length));
      return length;
    }
    int64_t failFrom = 2000;

   private:
    const Bytes& bytes_;
  };
  Builder b;
  Interleave(b, 0, 2000);
  Failing source(b.bytes());
  WalkOptions options;
  options.readAheadBytes = 512;
  Walker walker(source, options);
  QCOMPARE(walker.Walk(), WalkStatus::kReadError);
  const Facts partial = walker.Snapshot();
  QCOMPARE(partial.file.coverage, Coverage::kPartial);
  const Problem* p = partial.problems.First(ProblemKind::kReadError);
  QVERIFY(p);
  QVERIFY(p->offset > 1000 && p->offset <= 2000);
  source.failFrom = INT64_MAX;
  QCOMPARE(walker.Walk(), WalkStatus::kEndOfData);
  QCOMPARE(walker.Snapshot().file.tags, Walk(b.bytes()).file.tags);
}

void TestFlvWalk::lengthDecision_data() {
  QTest::addColumn<double>("claim");  // NaN's place is taken by "no claim"
  QTest::addColumn<bool>("claimed");
  QTest::addColumn<bool>("wrong");  // named as a claim the tags contradict
  QTest::newRow("no claim") << 0.0 << false << false;
  QTest::newRow("zero") << 0.0 << true << true;
  QTest::newRow("agrees") << 20.3 << true << false;
  QTest::newRow("within a second") << 19.5 << true << false;
  QTest::newRow("shorter") << 3.09 << true << true;
  QTest::newRow("longer by 6 percent") << 21.3 << true << true;
  QTest::newRow("interrupted recorder") << 2147483630.0 << true << false;
  QTest::newRow("1e308") << 1e308 << true << false;
  QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << true << false;
  QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << true << false;
  QTest::newRow("negative") << -20.0 << true << false;
}

void TestFlvWalk::lengthDecision() {
  QFETCH(double, claim);
  QFETCH(bool, claimed);
  QFETCH(bool, wrong);
  Builder b;
  if (claimed) b.Script(0, flvtest::MetaData({{"duration", claim}}));
  Interleave(b, 0, 20000);
  const Facts f = Walk(b.bytes());
  // Read to the end, the length is where the last frame ends, whatever the claim.
  const LengthChoice length = ChooseLength(f);
  QCOMPARE(length.source, LengthSource::kMeasured);
  QVERIFY(!length.why.empty());
  QCOMPARE(length.ms, f.clock.durationMs);
  QVERIFY(std::llabs(length.ms - 20000) <= 40);
  const bool absurd = claimed && AbsurdDuration(claim);
  QCOMPARE(Count(f, ProblemKind::kMetadataAbsurd) > 0, absurd);
  QCOMPARE(Count(f, ProblemKind::kDurationDisagrees), int64_t{wrong ? 1 : 0});

  // Read in part, a sane claim stands for the rest, unless what is read
  // already outlasts it.
  Facts partial = f;
  partial.file.coverage = Coverage::kPartial;
  const LengthChoice early = ChooseLength(partial);
  const bool sane = claimed && !absurd && claim > 0 && claim * 1000 >= f.clock.durationMs - 1000;
  QCOMPARE(early.source, sane ? LengthSource::kClaimed : LengthSource::kMeasured);
  if (sane) QCOMPARE(early.ms, ClampedRound(claim * 1000));
}

void TestFlvWalk::absurdScriptData() {
  Builder b;
  // onMetaData nested far deeper than any writer nests.
  flvtest::Amf0 deep;
  deep.String("onMetaData");
  for (int i = 0; i < 1000; ++i) deep.Object().Key("a");
  deep.Null();
  const size_t deepAt = b.Script(0, deep.bytes());
  // An ECMA array that claims 2^32 - 1 entries and holds one.
  flvtest::Amf0 claims;
  claims.String("onCuePoint").Ecma(0xffffffff).Key("name").String("x").End();
  b.Script(0, claims.bytes());
  Interleave(b, 0, 1000);
  const Facts f = Walk(b.bytes());

  const Problem* absurd = f.problems.First(ProblemKind::kScriptAbsurd);
  QVERIFY(absurd);
  QCOMPARE(absurd->offset, static_cast<int64_t>(deepAt));
  QVERIFY2(absurd->text.find("32 levels") != std::string::npos, absurd->text.c_str());
  const std::vector<HiddenTag> hide = ScriptTagsToHide(f);
  QCOMPARE(hide.size(), size_t{1});
  QCOMPARE(hide[0].tagOffset, static_cast<int64_t>(deepAt));
  QCOMPARE(hide[0].reason, HideReason::kTooDeep);
  // The byte to overwrite is the tag's type byte: script data (18) becomes
  // 19, a type the engine steps over without reading the body.
  QCOMPARE(hide[0].patchOffset, static_cast<int64_t>(deepAt));
  QCOMPARE(b.bytes()[hide[0].patchOffset], uint8_t{18});
  QCOMPARE(hide[0].original, uint8_t{18});
  QCOMPARE(hide[0].replacement, uint8_t{19});
  QCOMPARE(hide[0].tagBytes, static_cast<int64_t>(11 + deep.bytes().size()));
  QCOMPARE(f.scripts.metadata.tags, int64_t{0});

  // The claimed count is named; the one entry is read.
  bool named = false;
  for (const Problem& p : f.problems.Kept()) {
    named = named || (p.kind == ProblemKind::kScriptMalformed &&
                      p.text.find("4294967295") != std::string::npos);
  }
  QVERIFY(named);
  QCOMPARE(f.scripts.cuePointCount, int64_t{1});
  QCOMPARE(f.scripts.cuePoints.at(0).name, std::string("x"));

  // Claims no picture can have hide onMetaData too.
  Builder c;
  const size_t metaAt = c.Script(0, flvtest::MetaData({{"width", 65535}, {"height", 65535}}));
  Interleave(c, 0, 1000);
  const Facts g = Walk(c.bytes());
  QVERIFY(g.problems.First(ProblemKind::kMetadataAbsurd)->text.find("65535x65535") !=
          std::string::npos);
  QCOMPARE(g.streams.video.width, 320);  // from the frames, not the claim
  const std::vector<HiddenTag> hideClaims = ScriptTagsToHide(g);
  QCOMPARE(hideClaims.size(), size_t{1});
  QCOMPARE(hideClaims[0].tagOffset, static_cast<int64_t>(metaAt));
  QCOMPARE(hideClaims[0].reason, HideReason::kAbsurdClaims);
  QCOMPARE(hideClaims[0].patchOffset, static_cast<int64_t>(metaAt));
  QCOMPARE(hideClaims[0].original, uint8_t{18});
  QCOMPARE(hideClaims[0].replacement, uint8_t{19});

  // Only the type changes: the filter bit stays as the file has it.
  Builder e;
  const size_t filteredAt = e.Tag(0x32, 0, deep.bytes());
  Interleave(e, 0, 200);
  const std::vector<HiddenTag> hideFiltered = ScriptTagsToHide(Walk(e.bytes()));
  QCOMPARE(hideFiltered.size(), size_t{1});
  QCOMPARE(hideFiltered[0].patchOffset, static_cast<int64_t>(filteredAt));
  QCOMPARE(hideFiltered[0].original, uint8_t{0x32});
  QCOMPARE(hideFiltered[0].replacement, uint8_t{0x33});

  // One mark a tag, in file order, however the facts list them: a second
  // patch of one type byte would expect the byte the first one wrote.
  HiddenTag later = hideClaims[0];
  later.tagOffset = later.patchOffset = hideClaims[0].tagOffset + 5000;
  Facts listed = g;
  listed.scripts.hidden = {later, hideClaims[0], later};
  const std::vector<HiddenTag> once = ScriptTagsToHide(listed);
  QCOMPARE(once.size(), size_t{2});
  QCOMPARE(once[0].tagOffset, hideClaims[0].tagOffset);
  QCOMPARE(once[1].tagOffset, later.tagOffset);
}

void TestFlvWalk::claimedKeyframeIndex() {
  // Two passes: the first finds where the keyframes land.
  auto build = [](const std::vector<double>& positions, const std::vector<double>& times) {
    flvtest::Amf0 meta;
    meta.String("onMetaData").Ecma(1).Key("keyframes").Object();
    meta.Key("filepositions").Strict(static_cast<uint32_t>(positions.size()));
    for (const double p : positions) meta.Number(p);
    meta.Key("times").Strict(static_cast<uint32_t>(times.size()));
    for (const double t : times) meta.Number(t);
    meta.End().End();
    Builder b;
    b.Script(0, meta.bytes());
    Interleave(b, 0, 3000);
    return b.bytes();
  };
  std::vector<double> positions{0, 0, 0}, times{0, 1, 2};
  const Facts first = Walk(build(positions, times));
  QCOMPARE(first.index.entries.size(), size_t{3});
  for (size_t i = 0; i < 3; ++i) positions[i] = static_cast<double>(first.index.entries[i].offset);
  const Facts right = Walk(build(positions, times));
  QCOMPARE(right.index.entries, first.index.entries);  // the metadata's size did not change
  QCOMPARE(Count(right, ProblemKind::kKeyframeIndexDisagrees), int64_t{0});
  QCOMPARE(right.scripts.metadata.keyframePositionCount, int64_t{3});

  positions[1] += 1;
  const Facts off = Walk(build(positions, times));
  const Problem* p = off.problems.First(ProblemKind::kKeyframeIndexDisagrees);
  QVERIFY(p);
  QVERIFY2(p->text.find("1 of the 3 entries checked is wrong") != std::string::npos,
           p->text.c_str());
  QVERIFY2(p->text.find("entry 2") != std::string::npos, p->text.c_str());
}

void TestFlvWalk::report() {
  QCOMPARE(FormatClock(62400), std::string("1:02.4"));
  QCOMPARE(FormatClock(3723000), std::string("1:02:03"));
  QCOMPARE(FormatClock(59960), std::string("1:00.0"));
  QCOMPARE(FormatClock(-62400), std::string("-1:02.4"));
  QCOMPARE(FormatClock(INT64_MIN), std::string("-2562047788015:12:56"));

  Builder b;
  flvtest::Amf0 meta;
  meta.String("onMetaData").Ecma(2).Key("duration").Number(3.09);
  meta.Key("encoder").String("line\none\x01<b>");
  meta.End();
  b.Script(0, meta.bytes());
  Interleave(b, 0, 12480);
  b.H263(12480, false, 320, 240, 3000);
  const Bytes cut = b.Cut(b.size() - 100);
  const std::string text = Report(Walk(cut));
  for (const char* line :
       {"Container: FLV version 1, audio + video\n", "Video: Sorenson H.263, 320x240, 25.00 fps, ",
        "Audio: MP3, 44.1 kHz, stereo, ", "Length: 12.48 s measured (onMetaData claims 3.09 s)\n",
        "encoder \"line one <b>\"", "last tag cut at 0:12.5 (offset "}) {
    QVERIFY2(text.find(line) != std::string::npos, (line + std::string(" in\n") + text).c_str());
  }
  // One line per subject, no control characters.
  for (const char c : text) QVERIFY(c == '\n' || static_cast<uint8_t>(c) >= 0x20);
}

QTEST_GUILESS_MAIN(TestFlvWalk)
#include "test_flv_walk.moc"
