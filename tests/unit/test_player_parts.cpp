// The player's rules that need no engine: the length and clock, the cause of
// a failure, steps back, and the reading's cue points and captions on the
// player's clock.
#include <QtTest>
#include <functional>
#include <vector>

#include "media/flv/byte_source.h"
#include "media/flv/walker.h"
#include "player/back_steps.h"
#include "player/failure_diagnosis.h"
#include "player/file_facts.h"
#include "player/length_clock.h"
#include "unit/flv/flv_builder.h"

using Source = LengthClock::Source;

namespace {

// What happens to a clock, in order, and what it then says.
struct ClockCase {
  const char* name;
  bool network;
  std::function<void(LengthClock&)> events;
  bool open;
  LengthClock::Length length;
  double origin;
};

}  // namespace

class TestPlayerParts : public QObject {
  Q_OBJECT

 private slots:
  void lengthAndClock() {
    const ClockCase cases[] = {
        {"the engine counts an FLV's length from 0, the player from its first timestamp",
         true,
         [](LengthClock& c) {
           c.SetEngineFormat(true);
           c.SetEngineDuration(13.5, true);
           c.SetEngineStart(3.5);
         },
         true,
         {10, false, Source::kEngine},
         3.5},
        {"a network stream whose length grows has none",
         true,
         [](LengthClock& c) {
           c.SetEngineDuration(1, true);
           c.SetEngineDuration(2, true);
         },
         true,
         {0, true, Source::kNone},
         0},
        {"growth before the file opened is the file before's",
         true,
         [](LengthClock& c) {
           c.SetEngineDuration(1, false);
           c.SetEngineDuration(2, false);
         },
         false,
         {2, false, Source::kEngine},
         0},
        {"a tail read makes a growing stream a file again, and its end wins over 0",
         true,
         [](LengthClock& c) {
           c.SetEngineDuration(1, true);
           c.SetEngineDuration(0, true);
           c.SetEngineStart(2);
           c.SetTailEnd(62);
         },
         true,
         {60, false, Source::kTail},
         2},
        {"a tail close to the engine's word leaves it alone",
         true,
         [](LengthClock& c) {
           c.SetEngineDuration(60.4, true);
           c.SetTailEnd(60);
         },
         true,
         {60.4, false, Source::kEngine},
         0},
        {"a tail is not believed before the engine has opened the file",
         true,
         [](LengthClock& c) {
           c.SetEngineDuration(5, false);
           c.SetTailEnd(60);
         },
         false,
         {5, false, Source::kEngine},
         0},
        {"an absurd claim gives way to the tail",
         true,
         [](LengthClock& c) {
           c.SetEngineDuration(2147483630, true);
           c.SetTailEnd(30);
         },
         true,
         {30, false, Source::kTail},
         0},
        {"the player's reading wins over everything, origin included",
         false,
         [](LengthClock& c) {
           c.SetEngineDuration(31.019, true);
           c.SetEngineStart(6.0);
           c.SetReading(true, 6.06, 24.98);
         },
         true,
         {24.98, false, Source::kReading},
         6.06},
        {"a new engine forgets the old one's word but not the tail",
         true,
         [](LengthClock& c) {
           c.SetEngineDuration(0, true);
           c.SetTailEnd(20);
           c.ForgetEngine();
           c.SetEngineDuration(0, true);
         },
         true,
         {20, false, Source::kTail},
         0},
    };
    for (const ClockCase& test : cases) {
      LengthClock clock;
      clock.Reset(test.network);
      test.events(clock);
      const LengthClock::Length length = clock.Current(test.open);
      QVERIFY2(qFuzzyCompare(1 + length.seconds, 1 + test.length.seconds), test.name);
      QVERIFY2(length.live == test.length.live, test.name);
      QVERIFY2(length.source == test.length.source, test.name);
      QVERIFY2(qFuzzyCompare(1 + clock.Origin(), 1 + test.origin), test.name);
    }
  }

  // Both clocks, and seeks that start early by the index's lead but never
  // before the first keyframe.
  void clockConversionsAndSeeks() {
    LengthClock clock;
    clock.Reset(false);
    clock.SetReading(true, 5.0, 10.04);
    clock.SetEngineStart(5.5);  // a B-frame's late presentation
    QCOMPARE(clock.FromEngine(1.0), 1.5);
    QCOMPARE(clock.FromEngine(-1.0), 0.0);
    QCOMPARE(clock.ToEngine(1.5), 1.0);
    QCOMPARE(clock.ToEngine(-4), -0.5);
    LengthClock::Seek seek = clock.SeekFor(2);
    QCOMPARE(seek.target, 1.5);
    QCOMPARE(seek.lead, -1.0);
    QVERIFY(!clock.SeeksByIndex());

    clock.SetSeekLead(2, 5.0);
    QVERIFY(clock.SeeksByIndex());
    seek = clock.SeekFor(9);
    QCOMPARE(seek.target, 8.5);
    QCOMPARE(seek.lead, 2.0);
    seek = clock.SeekFor(1);
    QCOMPARE(seek.lead, 1.0);  // not past the first keyframe
    seek = clock.SeekFor(-3);
    QCOMPARE(seek.target, -0.5);
    QCOMPARE(seek.lead, 0.0);
  }

  void failureCauses() {
    using Evidence = FailureDiagnosis::Evidence;
    const auto line = [](const char* part, const char* text) {
      return engine::LogLine{part, QString::fromLatin1(text), true};
    };
    struct Case {
      const char* name;
      std::vector<engine::LogLine> logged;
      Evidence evidence;
      const char* cause;
    };
    const Case cases[] = {
        {"the engine's own words when nothing else is known",
         {},
         {-1, {}, {}, "loading failed"},
         "loading failed"},
        {"the cause an opening part logged, without its prefix",
         {line("ffmpeg", "flv: Cannot read tag: Invalid data found when processing input.")},
         {-1, {}, {}, "loading failed"},
         "Invalid data found when processing input"},
        {"only the first cause, and only from the parts that open files",
         {line("vd", "Could not decode: broken"), line("stream", "Failed to open: first"),
          line("file", "Cannot open: second")},
         {-1, {}, {}, "x"},
         "first"},
        {"the reading knows better than the engine",
         {line("ffmpeg", "x: unrecognized file format")},
         {-1, {}, "it is cut off after 4.00 s", "x"},
         "it is cut off after 4.00 s"},
        {"a picture too large is named before the reading",
         {},
         {-1, "16000x16000", "it is cut off after 4.00 s", "x"},
         "its picture is 16000x16000 pixels, larger than the 4096x4096 the player decodes"},
        {"a server that never answered: only the time tells",
         {line("ffmpeg", "tcp: Connection timed out")},
         {9500, {}, {}, "x"},
         "the server did not answer within 10 seconds"},
    };
    for (const Case& test : cases) {
      FailureDiagnosis diagnosis;
      diagnosis.Begin();
      for (const engine::LogLine& l : test.logged) QVERIFY(!diagnosis.Note(l));
      QVERIFY2(diagnosis.Cause(test.evidence) == QLatin1String(test.cause),
               qPrintable(QStringLiteral("%1: %2").arg(test.name, diagnosis.Cause(test.evidence))));
    }

    // Lines of the file before, and lines after the open, are no cause; a
    // cause logged after the failure asks for the message again.
    FailureDiagnosis late;
    late.Begin();
    QVERIFY(!late.Note(line("ffmpeg", "old: file before")));
    late.FileStarted();
    late.Failed();
    QVERIFY(late.Note(line("ffmpeg", "flv: too late")));
    QCOMPARE(late.Cause({}), QStringLiteral("too late"));
    late.Begin();
    late.Opened();
    QVERIFY(!late.Note(line("ffmpeg", "x: while playing")));
    QCOMPARE(late.Cause({-1, {}, {}, "engine"}), QStringLiteral("engine"));

    QCOMPARE(FailureDiagnosis::PictureTooLarge(line(
                 "ffmpeg", "IMGUTILS: Picture size 16000x16000 exceeds specified max pixel count")),
             QStringLiteral("16000x16000"));
    QCOMPARE(FailureDiagnosis::DecoderFailed(line("ad", "Failed to initialize a decoder for x")),
             'a');
    QCOMPARE(FailureDiagnosis::DecoderFailed(line("vd", "Failed to initialize a decoder for x")),
             'v');
    QCOMPARE(FailureDiagnosis::DecoderFailed(line("ffmpeg", "Failed to initialize a decoder")),
             '\0');
  }

  // One step back at a time, a few waiting at most, none waiting for the
  // next file, and a step that never lands holds the next only a while.
  void stepsBackGoOneAtATime() {
    int sent = 0;
    bool open = true;
    BackSteps steps([&] {
      if (!open) return false;
      ++sent;
      return true;
    });
    steps.SetTimeoutMs(60000);
    for (int i = 0; i < 8; ++i) steps.Request();
    QCOMPARE(sent, 1);
    for (int landed = 1; landed <= 5; ++landed) steps.Landed();
    QCOMPARE(sent, 1 + BackSteps::kMostWaiting);

    steps.Request();
    steps.Request();
    QCOMPARE(sent, 5);
    steps.Clear();
    steps.Landed();
    QCOMPARE(sent, 5);
    // Nothing to step in: the steps waiting are dropped.
    steps.Request();
    steps.Request();
    open = false;
    steps.Landed();
    open = true;
    steps.Landed();
    QCOMPARE(sent, 6);

    steps.SetTimeoutMs(20);
    steps.Request();
    steps.Request();
    QCOMPARE(sent, 7);
    QTRY_COMPARE(sent, 8);
  }

  void cuePointsAndCaptionsOnThePlayersClock() {
    flvtest::Builder b;
    b.H263(2000, true);
    flvtest::Amf0 cue;
    cue.String("onCuePoint").Object().Key("name").String("chapter two").Key("time").Number(4.0);
    cue.Key("type").String("navigation").End();
    b.Script(4000, cue.bytes());
    b.Script(4000, cue.bytes());  // the same cue point twice is one
    for (const auto& [ms, text] : {std::pair{3500u, "two"}, std::pair{3000u, "<b>one</b>"}}) {
      flvtest::Amf0 caption;
      caption.String("onTextData").Object().Key("text").String(text).End();
      b.Script(ms, caption.bytes());
    }
    for (uint32_t ms = 2040; ms <= 6000; ms += 40) b.H263(ms, ms % 1000 == 0);
    flv_reader::MemorySource source(std::span<const uint8_t>(b.bytes()));

    FileFacts facts;
    facts.Apply(flv_reader::WalkAll(source));
    QVERIFY(facts.Known());
    QCOMPARE(facts.Origin(), 2.0);
    QCOMPARE(facts.CuePoints(), stream_facts::CuePoints({{2.0, QStringLiteral("chapter two")}}));
    // Captions show from their moment until the next, as the text they are,
    // and for six seconds at most.
    QStringList shown;
    for (double at : {0.5, 1.2, 1.6, 3.0, 7.7, 1.1}) shown << facts.CaptionAt(at);
    QCOMPARE(shown, QStringList({"", "<b>one</b>", "two", "two", "", "<b>one</b>"}));

    // Anything but an FLV's reading leaves what is known alone.
    facts.Apply(flv_reader::Facts{});
    QVERIFY(facts.Known());
    facts.Forget();
    QVERIFY(!facts.Known() && facts.CuePoints().isEmpty() && facts.CaptionAt(1.2).isEmpty());
  }
};

QTEST_GUILESS_MAIN(TestPlayerParts)
#include "test_player_parts.moc"
