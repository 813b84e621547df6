// The FLV reader on bad input: absurd claims that must end in a problem line
// and never in a crash, a hang or a huge allocation; and a deterministic set
// of damaged copies of every corpus file and of files made here, each read
// every way the player reads (whole, in slices, as it grows, by its tail).
// Without the corpus, the files made here are damaged alone.

#include <sys/resource.h>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstdio>
#include <limits>
#include <span>

#include "media/flv/report.h"
#include "media/flv/tail.h"
#include "media/flv/walker.h"
#include "support/corpus.h"
#include "unit/flv/flv_builder.h"

#ifndef TIBROK_FLV_RSS_LIMIT_MB
#define TIBROK_FLV_RSS_LIMIT_MB 256
#endif

using namespace flv_reader;
using flvtest::Amf0;
using flvtest::Builder;
using flvtest::Bytes;

namespace {

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// One to four kinds of damage real files show, and absurd numbers where a
// size or a count is likely to be.
Bytes Mutate(const Bytes& original, uint64_t seed) {
  Bytes b = original;
  uint64_t rng = seed;
  auto below = [&](size_t n) {
    return n == 0 ? size_t{0} : static_cast<size_t>(SplitMix(rng) % n);
  };
  const int steps = 1 + static_cast<int>(below(4));
  for (int step = 0; step < steps && !b.empty(); ++step) {
    const size_t at = below(b.size());
    switch (below(8)) {
      case 0:  // flipped bytes
        for (size_t i = 0, n = 1 + below(16); i < n; ++i) b[below(b.size())] ^= 1 << below(8);
        break;
      case 1:  // cut short
        b.resize(at);
        break;
      case 2: {  // garbage put in
        Bytes junk(1 + below(4096));
        for (uint8_t& x : junk) x = static_cast<uint8_t>(SplitMix(rng));
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), junk.begin(), junk.end());
        break;
      }
      case 3: {  // a range written twice
        const size_t n = std::min(b.size() - at, 1 + below(65536));
        const Bytes copy(b.begin() + static_cast<std::ptrdiff_t>(at),
                         b.begin() + static_cast<std::ptrdiff_t>(at + n));
        const size_t to = below(b.size());
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(to), copy.begin(), copy.end());
        break;
      }
      case 4:  // zeros, as after a power loss
        std::fill(
            b.begin() + static_cast<std::ptrdiff_t>(at),
            b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + 1 + below(100000))), 0);
        break;
      case 5:  // bytes lost
        b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + 1 + below(5000))));
        break;
      case 6: {  // a huge size or count right after a tag type or an AMF marker
        size_t i = at;
        while (i < b.size() && b[i] != 8 && b[i] != 9 && b[i] != 0x12 && b[i] != 0x08 &&
               b[i] != 0x0a) {
          ++i;
        }
        for (size_t k = i + 1; k < std::min(b.size(), i + 5); ++k) b[k] = 0xff;
        break;
      }
      default:  // an absurd number where onMetaData keeps one
        for (size_t i = at; i + 9 <= b.size(); ++i) {
          if (b[i] != 0x00 || i == 0 || b[i - 1] < 'a' || b[i - 1] > 'z') continue;
          static const double kAbsurd[] = {1e308,
                                           -1,
                                           65535,
                                           2147483630,
                                           std::numeric_limits<double>::quiet_NaN(),
                                           std::numeric_limits<double>::infinity()};
          Bytes number;
          flvtest::PutDouble(number, kAbsurd[below(6)]);
          std::copy(number.begin(), number.end(), b.begin() + static_cast<std::ptrdiff_t>(i + 1));
          break;
        }
        break;
    }
  }
  return b;
}

// Everything a file's facts say, for telling two walks apart.
std::string Digest(const Facts& f) {
  std::string d = Report(f);
  char line[512];
  std::snprintf(line, sizeof line, "%lld %lld %lld %lld %lld %lld %lld %lld %lld %d\n",
                static_cast<long long>(f.file.tags), static_cast<long long>(f.file.bytesWalked),
                static_cast<long long>(f.clock.firstMs), static_cast<long long>(f.clock.endMs),
                static_cast<long long>(f.clock.contentMs),
                static_cast<long long>(f.damage.bytesSkipped),
                static_cast<long long>(f.damage.prevTagSizes.wrong),
                static_cast<long long>(f.damage.lastTagOffset),
                static_cast<long long>(f.damage.cutTagOffset), static_cast<int>(f.file.coverage));
  d += line;
  for (const Problem& p : f.problems.Kept()) {
    d += std::to_string(static_cast<int>(p.kind)) + " " + std::to_string(p.offset) + " " +
         std::to_string(p.timeMs) + " " + p.text + "\n";
  }
  for (const IndexEntry& e : f.index.entries) d += std::to_string(e.offset) + ",";
  for (const HiddenTag& h : f.scripts.hidden) d += " h" + std::to_string(h.patchOffset);
  return d;
}

// What must hold of any facts, whatever the file.
void CheckInvariants(const Facts& f, std::span<const uint8_t> file) {
  const auto fileSize = static_cast<int64_t>(file.size());
  QCOMPARE(f.file.tags, f.streams.audio.tags + f.streams.video.tags + f.file.scriptTags);
  QVERIFY(f.damage.bytesSkipped >= 0 && f.damage.bytesSkipped <= fileSize);
  QVERIFY(f.file.bytesWalked <= fileSize);
  QVERIFY(f.index.entries.size() <= WalkOptions{}.maxIndexEntries);
  for (size_t i = 1; i < f.index.entries.size(); ++i)
    QVERIFY(f.index.entries[i - 1].offset < f.index.entries[i].offset);
  for (const IndexEntry& e : f.index.entries) QVERIFY(e.offset >= 0 && e.offset + 11 <= fileSize);
  std::array<int64_t, static_cast<size_t>(ProblemKind::kCount)> kept{};
  for (const Problem& p : f.problems.Kept()) {
    ++kept[static_cast<size_t>(p.kind)];
    QVERIFY(p.offset < fileSize || (p.offset == 0 && fileSize == 0));
    QVERIFY(!p.text.empty());
  }
  for (size_t k = 0; k < kept.size(); ++k) {
    QVERIFY(kept[k] <= 50);
    QVERIFY(kept[k] <= f.problems.Count(static_cast<ProblemKind>(k)));
  }
  // Each patch turns a script tag's type byte, as the file has it, into
  // type 19 with the upper bits kept; one patch a tag, in file order.
  int64_t lastPatched = -1;
  for (const HiddenTag& h : ScriptTagsToHide(f)) {
    QCOMPARE(h.patchOffset, h.tagOffset);
    QVERIFY(h.tagOffset > lastPatched && h.tagOffset < fileSize);
    lastPatched = h.tagOffset;
    QCOMPARE(file[static_cast<size_t>(h.patchOffset)], h.original);
    QCOMPARE(h.original & 0x1f, 18);
    QCOMPARE(h.replacement, static_cast<uint8_t>((h.original & 0xe0) | 19));
  }
  if (f.streams.audio.frames + f.streams.video.frames > 0) {
    QVERIFY(f.clock.firstMs >= 0 && f.clock.endMs >= f.clock.lastMs && f.clock.durationMs >= 0);
  }
  const std::string report = Report(f);
  for (const char c : report) QVERIFY(c == '\n' || static_cast<uint8_t>(c) >= 0x20);
}

void ReadEveryWay(const Bytes& bytes, bool deep) {
  const std::span<const uint8_t> view(bytes);
  const auto size = static_cast<int64_t>(bytes.size());
  MemorySource whole{view};
  const Facts once = WalkAll(whole);
  CheckInvariants(once, view);
  ChooseLength(once);

  const TailInfo tail = ReadTail(whole);
  QVERIFY(tail.endMs == std::max(tail.lastAudioMs, tail.lastVideoMs));
  QVERIFY(tail.lastTagOffset < size && tail.cutTagOffset < size);
  const size_t from = bytes.size() > 65536 ? bytes.size() - 65536 : 0;
  MemorySource tailOnly(view.subspan(from), static_cast<int64_t>(from), size);
  const TailInfo held = ReadTail(tailOnly);
  QVERIFY(held.lastTagOffset < size);
  if (held.found && held.followedPrevTagSizes) QCOMPARE(held.lastTagOffset, tail.lastTagOffset);
  CheckInvariants(QuickLook(whole, 4096), view);
  if (!deep) return;

  // In slices, and as a recording that grows: the same facts in the end.
  const std::string expected = Digest(once);
  Walker sliced(whole);
  WalkBudget budget;
  budget.maxTags = 5;
  budget.maxBytes = 4096;
  while (sliced.Walk(budget) == WalkStatus::kBudgetSpent) {
  }
  QCOMPARE(Digest(sliced.Snapshot()), expected);

  flvtest::GrowingSource growing(bytes);
  Walker resumed(growing);
  uint64_t rng = bytes.size();
  std::vector<size_t> sizes;
  for (int i = 0; i < 6; ++i)
    sizes.push_back(static_cast<size_t>(SplitMix(rng) % (bytes.size() + 1)));
  std::sort(sizes.begin(), sizes.end());
  for (const size_t shown : sizes) {
    growing.Show(shown);
    resumed.Walk();
    CheckInvariants(resumed.Snapshot(), view.first(static_cast<size_t>(growing.Size())));
  }
  growing.Show(bytes.size());
  resumed.Walk();
  QCOMPARE(Digest(resumed.Snapshot()), expected);
}

long PeakRssMb() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

Bytes ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray data = file.readAll();
  return Bytes(data.begin(), data.end());
}

bool HasText(const Facts& f, ProblemKind kind, const std::string& text) {
  for (const Problem& p : f.problems.Kept()) {
    if (p.kind == kind && p.text.find(text) != std::string::npos) return true;
  }
  return false;
}

// Audio and video as a recorder writes them, for `ms`.
void Media(Builder& b, uint32_t ms) {
  for (uint32_t t = 0; t < ms; t += 40) {
    b.Aac(t);
    b.Avc(t, t % 1000 == 0);
  }
}

}  // namespace

class TestFlvDamage : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void absurdClaims();
  void absurdScriptData();
  void mutants_data();
  void mutants();

 private:
  QTemporaryDir dir_;
  QStringList made_;
};

void TestFlvDamage::initTestCase() {
  QVERIFY(dir_.isValid());
  TIBROK_CORPUS_INIT(QStringLiteral("its files are not damaged, the files made here are"));
  // Files with what the corpus has little of: AMF3 script data, captions,
  // cue points, a keyframes index, codec changes.
  Builder b;
  Amf0 meta;
  meta.String("onMetaData").Ecma(3).Key("duration").Number(4).Key("keyframes").Object();
  meta.Key("filepositions").Strict(2).Number(400).Number(9000).Key("times").Strict(2).Number(0);
  meta.Number(1).End().Key("cuePoints").Strict(1).Object().Key("name").String("c");
  meta.Key("time").Number(1).End().End();
  b.Script(0, meta.bytes());
  b.AvcHeader(0, flvtest::BaselineSps(640, 360));
  b.AacConfig(0);
  Media(b, 2000);
  b.Script(2000, Amf0().String("onTextData").Object().Key("text").String("Hello").End().bytes());
  const Bytes amf3 = {0x02, 0,    10,   'o',  'n',  'C', 'u', 'e', 'P', 'o',  'i',  'n', 't',
                      0x11, 0x0a, 0x0b, 0x01, 0x09, 'n', 'a', 'm', 'e', 0x06, 0x03, 'x', 0x01};
  b.Script(2000, amf3);
  for (uint32_t t = 2000; t < 4000; t += 40) b.Vp6(t, t % 1000 == 0);
  b.PrevSizeError(4);
  for (uint32_t t = 4000; t < 5000; t += 40) b.H263(t, t % 1000 == 0);
  QFile made(dir_.filePath("made.flv"));
  QVERIFY(made.open(QIODevice::WriteOnly));
  made.write(reinterpret_cast<const char*>(b.bytes().data()), static_cast<qint64>(b.size()));
  made.close();
  made_ << made.fileName();

  if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) return;
  const QList<QStringList> codecs{{"-c:v", "libx264", "-c:a", "aac"},
                                  {"-c:v", "flv", "-c:a", "libmp3lame", "-ar", "22050"},
                                  {"-c:v", "flashsv2", "-c:a", "nellymoser", "-ar", "8000"}};
  for (int i = 0; i < codecs.size(); ++i) {
    const QString path = dir_.filePath(QString("ffmpeg%1.flv").arg(i));
    QStringList args =
        QString(
            "-v error -f lavfi -i testsrc2=size=160x120:rate=25:duration=4 -f lavfi -i "
            "sine=duration=4")
            .split(' ');
    args << codecs[i] << path;
    QCOMPARE(QProcess::execute("ffmpeg", args), 0);
    made_ << path;
  }
}

void TestFlvDamage::absurdClaims() {
  struct Claim {
    const char* key;
    double value;
    const char* text;
  };
  const Claim claims[] = {{"duration", 1e308, "1e+308 s"},
                          {"duration", std::numeric_limits<double>::quiet_NaN(), "NaN s"},
                          {"duration", -3, "-3 s"},
                          {"duration", std::numeric_limits<double>::infinity(), "infinity s"},
                          {"duration", 2147483630, "2147483630 s"},
                          {"width", 65535, "65535x"},
                          {"framerate", -25, "frame rate of -25"},
                          {"audiosamplerate", 1e20, "sample rate of 1e+20"},
                          {"videodatarate", std::numeric_limits<double>::quiet_NaN(), "NaN"}};
  for (const Claim& claim : claims) {
    Builder b;
    const size_t at = b.Script(0, flvtest::MetaData({{claim.key, claim.value}, {"height", 240}}));
    Media(b, 3000);
    MemorySource source{std::span<const uint8_t>(b.bytes())};
    const Facts f = WalkAll(source);
    const Problem* p = f.problems.First(ProblemKind::kMetadataAbsurd);
    QVERIFY2(p && p->text.find(claim.text) != std::string::npos, claim.text);
    QCOMPARE(p->offset, static_cast<int64_t>(at));
    const LengthChoice length = ChooseLength(f);
    QCOMPARE(length.source, LengthSource::kMeasured);
    QCOMPARE(length.ms, int64_t{3000});
    const bool hidden = !ScriptTagsToHide(f).empty();
    QCOMPARE(hidden, std::string(claim.key) == "duration" || std::string(claim.key) == "width");
    QVERIFY(Report(f).find("Problems:") != std::string::npos);
  }

  // A frame rate that would make one frame last 10^303 ms (found by the
  // fuzzer: the length came out negative).
  Builder one;
  one.Script(0, flvtest::MetaData({{"framerate", 1e-300}}));
  one.H263(1433, true);
  MemorySource oneFrame{std::span<const uint8_t>(one.bytes())};
  const Facts slow = WalkAll(oneFrame);
  QVERIFY(HasText(slow, ProblemKind::kMetadataAbsurd, "frame rate of 1e-300"));
  QVERIFY(slow.clock.durationMs >= 0 && slow.clock.durationMs <= WalkOptions{}.leapMs);
  QVERIFY(slow.clock.contentMs >= 0 && slow.clock.contentMs <= WalkOptions{}.leapMs);

  // A keyframe's time past any clock (found by the fuzzer: the text of the
  // problem overflowed).
  auto timeClaim = [](double position, double time) {
    Amf0 meta;
    meta.String("onMetaData").Ecma(1).Key("keyframes").Object();
    meta.Key("filepositions").Strict(1).Number(position);
    meta.Key("times").Strict(1).Number(time).End().End();
    Builder b;
    b.Script(0, meta.bytes());
    Media(b, 1000);
    MemorySource source{std::span<const uint8_t>(b.bytes())};
    return WalkAll(source);
  };
  const int64_t keyframeAt = timeClaim(0, 0).index.entries.at(0).offset;
  const Facts late = timeClaim(static_cast<double>(keyframeAt), 1e300);
  QVERIFY(HasText(late, ProblemKind::kKeyframeIndexDisagrees, "not of 2562047788015:12:56"));

  // A keyframes index of positions no file has.
  Amf0 index;
  index.String("onMetaData").Ecma(1).Key("keyframes").Object().Key("filepositions").Strict(3);
  index.Number(1e308).Number(-1).Number(std::numeric_limits<double>::quiet_NaN());
  index.Key("times").Strict(3).Number(0).Number(1e300).Number(-1e300).End().End();
  Builder b;
  b.Script(0, index.bytes());
  Media(b, 1000);
  MemorySource source{std::span<const uint8_t>(b.bytes())};
  QVERIFY(HasText(WalkAll(source), ProblemKind::kKeyframeIndexDisagrees,
                  "all 3 entries checked are wrong"));
}

void TestFlvDamage::absurdScriptData() {
  // Written to disk and read through a file, as the player reads: the
  // oversized tags must never be read into memory.
  const QString path = dir_.filePath("absurd.flv");
  {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    auto put = [&](const Bytes& bytes) {
      file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    };
    Builder head;
    put(head.bytes());
    // 50 MB of script data in four tags near the largest size a tag can have.
    for (uint32_t i = 0; i < 4; ++i) {
      Builder tag;
      const Bytes name = Amf0().String("onMetaData").Ecma(0xffffffff).bytes();
      Bytes body = name;
      body.resize(12500000, 0);
      tag.Script(i, body);
      put(Bytes(tag.bytes().begin() + 13, tag.bytes().end()));
    }
    Builder rest;
    // Nesting 100000 deep; an ECMA array and a strict array claiming 2^32
    // entries; 300000 values in a few hundred kilobytes; AMF3 claiming 2^28.
    Amf0 deep;
    deep.String("onMetaData");
    for (int i = 0; i < 100000; ++i) deep.Marker(0x0a).Raw({0, 0, 0, 1});
    rest.Script(10, deep.bytes());
    rest.Script(20,
                Amf0().String("onCuePoint").Ecma(0xffffffff).Key("name").String("n").End().bytes());
    rest.Script(30, Amf0().String("onTextData").Strict(0xffffffff).String("t").bytes());
    Amf0 many;
    many.String("onMetaData").Strict(300000);
    for (int i = 0; i < 300000; ++i) many.Null();
    rest.Script(40, many.bytes());
    rest.Script(
        50,
        Amf0().String("onCaption").Marker(0x11).Raw({0x09, 0xff, 0xff, 0xff, 0xff, 0x01}).bytes());
    Media(rest, 2000);
    put(Bytes(rest.bytes().begin() + 13, rest.bytes().end()));
  }
  auto source = FileSource::Open(path.toStdString());
  QVERIFY(source);
  QVERIFY(source->Size() > 50000000);
  QElapsedTimer timer;
  timer.start();
  const Facts f = WalkAll(*source);
  QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
  QCOMPARE(f.problems.Count(ProblemKind::kScriptAbsurd), int64_t{6});
  QVERIFY(HasText(f, ProblemKind::kScriptAbsurd, "is 11.9 MiB, more than the 1.0 MiB"));
  QVERIFY(HasText(f, ProblemKind::kScriptAbsurd, "nested more than 32 levels deep"));
  QVERIFY(HasText(f, ProblemKind::kScriptAbsurd, "more than 200000 values"));
  QVERIFY(HasText(f, ProblemKind::kScriptMalformed, "claims 4294967295 entries"));
  QVERIFY(HasText(f, ProblemKind::kScriptMalformed, "AMF3 array claims 268435455 entries"));
  const std::vector<HiddenTag> hide = ScriptTagsToHide(f);
  QCOMPARE(hide.size(), size_t{6});
  for (const HiddenTag& h : hide) {
    QCOMPARE(h.patchOffset, h.tagOffset);
    QCOMPARE(h.original, uint8_t{18});
    QCOMPARE(h.replacement, uint8_t{19});
    QVERIFY(h.reason != HideReason::kAbsurdClaims);
  }
  // The media after them is all there.
  QCOMPARE(f.streams.video.frames, int64_t{50});
  QCOMPARE(f.damage.resyncs, int64_t{0});
  QVERIFY2(PeakRssMb() < TIBROK_FLV_RSS_LIMIT_MB, qPrintable(QString::number(PeakRssMb())));
}

void TestFlvDamage::mutants_data() {
  QTest::addColumn<QString>("path");
  const QStringList names = corpus::Present()
                                ? QDir(corpus::Dir()).entryList({"*.flv"}, QDir::Files, QDir::Name)
                                : QStringList();
  for (const QString& name : names) QTest::newRow(qPrintable(name)) << corpus::File(name);
  for (const QString& path : made_) QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path;
}

void TestFlvDamage::mutants() {
  QFETCH(QString, path);
  const Bytes original = ReadAll(path);
  QVERIFY(!original.empty());
  ReadEveryWay(original, true);
  uint64_t seed = qHash(QFileInfo(path).fileName());
  for (int i = 0; i < 160; ++i) {
    const Bytes mutant = Mutate(original, SplitMix(seed));
    ReadEveryWay(mutant, i % 4 == 0);
    if (QTest::currentTestFailed()) {
      qWarning("mutant %d of %s", i, qPrintable(path));
      return;
    }
  }
  QVERIFY2(PeakRssMb() < TIBROK_FLV_RSS_LIMIT_MB, qPrintable(QString::number(PeakRssMb())));
}

QTEST_GUILESS_MAIN(TestFlvDamage)
#include "test_flv_damage.moc"
