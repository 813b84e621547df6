// The load state machine against an engine played by the test: what is sent
// to the engine for each address, how its events become the playback state,
// and what the user is told when something goes wrong; frame steps, speed
// and the pictures the session asks the engine for.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "player/session.h"
#include "player/tail_probe.h"
#include "player_model/playback_state.h"
#include "support/fake_engine.h"
#include "support/file_server.h"
#include "support/mp4_builder.h"
#include "support/test_support.h"
#include "unit/flv/flv_builder.h"

using engine::Property;
using LoadState = PlaybackState::LoadState;

namespace {

QByteArray SmallFlv() {
  QByteArray data("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13);
  data += QByteArray("\x09\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00\x12\x00\x00\x00\x00", 16);
  return data + QByteArray("\x00\x00\x00\x10", 4);
}

// The widget's part, written down.
class FakeHost : public Session::Host {
 public:
  QStringList calls;
  std::function<void()> onReplace;
  void RenderFrame(bool force) override { calls << (force ? "render again" : "render"); }
  void HidePicture() override { calls << "hide"; }
  void ReplaceEngine() override {
    calls << "replace engine";
    if (onReplace) onReplace();
  }
};

}  // namespace

class TestSession : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString flv_;
  std::unique_ptr<PlaybackState> state_;
  std::unique_ptr<FakeHost> host_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<FakeEngine> engine_;

  // Sorenson H.263 frames every 40 ms from `firstMs` to `lastMs`, a keyframe
  // each second, after an onMetaData of `claims`.
  static QByteArray Clip(uint32_t firstMs, uint32_t lastMs,
                         const std::vector<std::pair<std::string, double>>& claims) {
    flvtest::Builder b;
    if (!claims.empty()) b.Script(0, flvtest::MetaData(claims));
    for (uint32_t ms = firstMs; ms <= lastMs; ms += 40) b.H263(ms, ms % 1000 == 0);
    const flvtest::Bytes& bytes = b.bytes();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
  }
  QString WriteClip(const QString& name, uint32_t firstMs, uint32_t lastMs,
                    const std::vector<std::pair<std::string, double>>& claims) {
    return testsupport::WriteFile(dir_.filePath(name), Clip(firstMs, lastMs, claims));
  }

  // Plays `address` and waits until it has gone to the engine.
  void LoadAndWait(const QString& address) {
    const int before = int(engine_->loads.size());
    session_->PlayAddress(address);
    QTRY_COMPARE(int(engine_->loads.size()), before + 1);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    flv_ = testsupport::WriteFile(dir_.filePath("clip.flv"), SmallFlv());
  }

  void init() {
    state_ = std::make_unique<PlaybackState>();
    host_ = std::make_unique<FakeHost>();
    session_ = std::make_unique<Session>(*state_, *host_);
    session_->SetTimings(
        {.stuckMs = 100, .progressAfterMs = 50, .growthCheckMs = 20, .stepBackMs = 100});
    engine_ = std::make_unique<FakeEngine>();
    session_->SetEngine(engine_.get());
  }

  void cleanup() {
    session_.reset();
    engine_.reset();
  }

  void aLocalFileIsCheckedThenReadThroughThePlayer() {
    QSignalSpy states(state_.get(), &PlaybackState::loadStateChanged);
    LoadAndWait(flv_);
    const engine::LoadRequest& load = engine_->loads.back();
    QCOMPARE(load.source, engine::LoadRequest::Source::kLocalFile);
    QCOMPARE(load.format, engine::LoadRequest::Format::kFlv);
    QVERIFY(load.file && load.file->Size() == SmallFlv().size());
    QVERIFY(load.url.isEmpty());
    QCOMPARE(state_->loadState(), LoadState::kOpening);
    QCOMPARE(state_->title(), QStringLiteral("clip.flv"));

    QSignalSpy loaded(state_.get(), &PlaybackState::fileLoaded);
    engine_->OpenFile(1);
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(state_->loadState(), LoadState::kPlaying);
    QVERIFY(state_->hasFile());
    QCOMPARE(state_->videoSize(), QSize(320, 240));
    QCOMPARE(states.first().at(0).value<LoadState>(), LoadState::kChecking);

    engine_->Send(Property::kEndReached, true);
    QCOMPARE(state_->loadState(), LoadState::kEnded);
  }

  void refusedAddressesNeverReachTheEngine() {
    LoadAndWait(flv_);
    engine_->OpenFile(1);
    const QString concat = testsupport::WriteFile(dir_.filePath("list.flv"),
                                                  "ffconcat version 1.0\nfile 'clip.flv'\n");
    for (const QString& address :
         {QStringLiteral("av://lavfi:testsrc"), concat, QStringLiteral("file:///dev/zero%00")}) {
      engine_->calls.clear();
      session_->PlayAddress(address);
      QTRY_COMPARE(state_->loadState(), LoadState::kFailed);
      QVERIFY2(state_->message().startsWith(QStringLiteral("Cannot play \"")),
               qPrintable(state_->message()));
      // What played before stops; nothing new is loaded.
      QVERIFY2(engine_->calls.contains("stop"), qPrintable(engine_->calls.join(", ")));
      QVERIFY(!engine_->calls.join(",").contains("load"));
    }
    QVERIFY(state_->message().contains(QLatin1String("control character")));
    QCOMPARE(int(engine_->loads.size()), 1);
  }

  // rtmp is the engine's own: it has the address at once, and its detailed
  // log says how far it got.
  void rtmpGoesStraightToTheEngineAndSaysHowFarItGot() {
    session_->PlayAddress(QStringLiteral("rtmp://127.0.0.1:8/live/show"));
    QCOMPARE(engine_->calls.filter("load").constLast(),
             QStringLiteral("load rtmp rtmp://127.0.0.1:8/live/show"));
    QVERIFY(engine_->calls.contains("detailed log"));
    QVERIFY(engine_->calls.contains("watch cache"));
    QTRY_COMPARE(state_->progress(), QStringLiteral("Connecting to 127.0.0.1\u2026 0 s"));
    engine_->Log("lavf", QStringLiteral("32768=mp_read(0x1, 0x2, 32768), pos: 32768, eof:0"),
                 false);
    engine_->Log("lavf", QStringLiteral("8192=mp_read(0x1, 0x2, 32768), pos: 40960, eof:0"), false);
    QTRY_COMPARE(state_->progress(), QStringLiteral("Waiting for 127.0.0.1: 40 KB received"));
    // Detail lines are never taken for the cause of a failure.
    engine_->Log("stream", QStringLiteral("Opening rtmp://127.0.0.1:8/live/show"), false);
    engine_->OpenFile(1);
    QCOMPARE(state_->progress(), QString());
    QTRY_VERIFY(engine_->calls.contains("errors only"));
    QVERIFY(state_->message().isEmpty());
  }

  // http(s) is the player's: it connects, looks at the start, and hands the
  // engine the open connection; the progress is what the connection counted.
  void httpIsOpenedByThePlayerAndHandedOver() {
    const QByteArray clip = Clip(0, 20000, {{"duration", 20}});
    FileServer server(clip, FileServer::Mode::kRanges, 64 << 10);
    session_->PlayAddress(server.Url());
    // Looked at before the engine sees it, as a local file is.
    QCOMPARE(state_->loadState(), LoadState::kChecking);
    QVERIFY(engine_->loads.empty());
    QTRY_COMPARE(int(engine_->loads.size()), 1);
    QCOMPARE(engine_->calls.filter("load").constLast(),
             "load http " + server.Url() + " (connection)");
    QCOMPARE(engine_->loads.back().format, engine::LoadRequest::Format::kFlv);
    QVERIFY(!engine_->calls.contains("detailed log"));
    const QRegularExpression counted(
        QStringLiteral("^Waiting for 127\\.0\\.0\\.1: \\d+ KB of %1 KB received$")
            .arg((clip.size() + 1023) / 1024));
    QTRY_VERIFY2(counted.match(state_->progress()).hasMatch(), qPrintable(state_->progress()));
    engine_->OpenFile(1);
    QCOMPARE(state_->progress(), QString());

    // What is not a video is refused before the engine sees it.
    FileServer page("<!DOCTYPE html><html><body>" + QByteArray(5000, ' ') + "</body></html>",
                    FileServer::Mode::kRanges, 1 << 20);
    engine_->calls.clear();
    session_->PlayAddress(page.Url(QStringLiteral("/page.flv")));
    QTRY_COMPARE(state_->loadState(), LoadState::kFailed);
    QVERIFY2(state_->message().contains(QLatin1String("it is an HTML page")),
             qPrintable(state_->message()));
    QVERIFY(!engine_->calls.join(",").contains("load"));
  }

  void failuresNameTheirCauseEvenWhenItIsLoggedLate() {
    LoadAndWait(flv_);
    engine_->ReplyToLoad(3);
    engine_->StartFile(3);
    engine_->EndFile(3, engine::EndReason::kError, QStringLiteral("loading failed"));
    QCOMPARE(state_->loadState(), LoadState::kFailed);
    QVERIFY2(state_->message().endsWith(QLatin1String(": loading failed.")),
             qPrintable(state_->message()));
    engine_->Log(
        "ffmpeg",
        QStringLiteral("flv: Cannot read tag 12: Invalid data found when processing input."));
    QVERIFY2(
        state_->message().endsWith(QLatin1String(": Invalid data found when processing input.")),
        qPrintable(state_->message()));

    // A refused load says the engine's own words.
    LoadAndWait(flv_);
    engine_->ReplyToLoad(0, QStringLiteral("invalid parameter"));
    QVERIFY(state_->message().endsWith(QLatin1String(": invalid parameter.")));
  }

  void undecodableStreamsAreNoticedAndTheRestPlays() {
    LoadAndWait(flv_);
    engine_->OpenFile(1);
    stream_facts::Tracks tracks;
    tracks.video = {true, true, QStringLiteral("flv1, 320x240")};
    tracks.audio = {true, true, QStringLiteral("unsupported codec")};
    engine_->Send(Property::kTracks, tracks);
    engine_->Log("ad", QStringLiteral("Failed to initialize a decoder for codec 'mp3float'"));
    QCOMPARE(state_->decodeProblem(),
             QStringLiteral("Audio could not be decoded: unsupported codec"));
    QVERIFY(!state_->audioOnly());
    // A picture that cannot be decoded beside sound that can: sound only.
    engine_->Log("vd", QStringLiteral("Failed to initialize a decoder for codec 'vp6f'"));
    QVERIFY(state_->decodeProblem().contains(QLatin1String("Video could not be decoded")));
  }

  void aFileWithNothingToShowSaysSo() {
    LoadAndWait(flv_);
    engine_->OpenFile(1, {});
    engine_->Send(Property::kEndReached, true);
    QCOMPARE(engine_->calls.constLast(), QStringLiteral("ask sample rate"));
    engine_->Answer(engine::Query::kSampleRate, qint64{0});
    QVERIFY2(state_->message().endsWith(
                 QLatin1String("it holds no picture or sound that could be decoded.")),
             qPrintable(state_->message()));
  }

  // A clip cut from a stream starts seconds in, and its onMetaData says 0 (a
  // recorder that never went back to fill it in): the length is what the
  // file holds, the clock counts from its first frame, and seeks are on that
  // clock.
  void aLocalFlvIsMeasuredNotBelieved() {
    const QString path = WriteClip(QStringLiteral("late.flv"), 5000, 15000, {{"duration", 0}});
    // Indexed as a large file would be.
    session_->SetIndexFromBytes(0);
    LoadAndWait(path);
    QCOMPARE(state_->duration(), 10.04);
    engine_->OpenFile(1, {320, 240}, 0);
    engine_->Send(Property::kStartTime, 5.5);  // a B-frame's late presentation
    QCOMPARE(state_->duration(), 10.04);
    engine_->Send(Property::kPosition, 1.0);
    QCOMPARE(state_->position(), 1.5);
    // Keyframes a second apart: an exact seek starts two seconds early,
    // never before the first keyframe.
    engine_->calls.clear();
    session_->SeekTo(2);
    QCOMPARE(engine_->calls, QStringList({"seek lead 2", "seek 1.5 absolute"}));
    engine_->calls.clear();
    session_->SeekTo(9);
    QCOMPARE(engine_->calls, QStringList({"seek lead 2", "seek 8.5 absolute"}));
    // The engine is told the length and the index before the file's tags.
    const engine::LoadRequest& load = engine_->loads.back();
    QVERIFY(load.prefix.contains("keyframes") && load.prefix.contains("filepositions"));
    QVERIFY2(state_->fileReport().contains(QLatin1String("Length: 10.04 s measured")),
             qPrintable(state_->fileReport()));

    // A small file is given its length and no index, its own hidden too:
    // the engine seeks exactly without one, and needs no lead.
    session_->SetIndexFromBytes(flv_index::kIndexFromBytes);
    const QString indexed =
        WriteClip(QStringLiteral("indexed.flv"), 0, 4000,
                  {{"duration", 4.04}, {"keyframes", 0}});  // a claim the engine must not see
    LoadAndWait(indexed);
    const engine::LoadRequest& small = engine_->loads.back();
    QVERIFY(small.prefix.contains("duration") && !small.prefix.contains("keyframes"));
    QVERIFY(!small.patches.empty());  // the file's own onMetaData, hidden
    engine_->OpenFile(2, {320, 240}, 0);
    engine_->calls.clear();
    session_->SeekTo(2);
    QCOMPARE(engine_->calls, QStringList({"seek 2 absolute"}));
  }

  // When the engine gives up on an FLV, the player's reading says why.
  void aFailedFlvIsExplainedByWhatItHolds() {
    QByteArray junk(reinterpret_cast<const char*>(flvtest::Builder().bytes().data()), 13);
    junk += QByteArray(400, '\x55');
    LoadAndWait(testsupport::WriteFile(dir_.filePath("junk.flv"), junk));
    engine_->ReplyToLoad(1);
    engine_->StartFile(1);
    engine_->EndFile(1, engine::EndReason::kError, QStringLiteral("unrecognized file format"));
    QVERIFY2(state_->message().contains(QLatin1String("no complete tag")),
             qPrintable(state_->message()));

    QByteArray cut = testsupport::ReadFile(WriteClip(QStringLiteral("whole.flv"), 1000, 5000, {}));
    cut.chop(20);  // into the last tag's picture
    LoadAndWait(testsupport::WriteFile(dir_.filePath("cut.flv"), cut));
    engine_->ReplyToLoad(2);
    engine_->StartFile(2);
    engine_->EndFile(2, engine::EndReason::kError, QStringLiteral("unrecognized file format"));
    QVERIFY2(state_->message().contains(QLatin1String("cut off after 4.00 s")),
             qPrintable(state_->message()));
  }

  // An MP4 cut short: its length is what it holds, on the engine's clock;
  // the engine reads no further than its last whole sample, and the end
  // names the cut.
  void anMp4CutShortLastsWhatItHolds() {
    const QByteArray whole = mp4test::Make(mp4test::AudioVideo());
    const QString path =
        testsupport::WriteFile(dir_.filePath("cut.mp4"), whole.left(whole.size() - 4000));
    LoadAndWait(path);
    const engine::LoadRequest& load = engine_->loads.back();
    QCOMPARE(load.format, engine::LoadRequest::Format::kMp4);
    QVERIFY(load.end > 0 && load.end < whole.size() - 4000);
    engine_->OpenFile(1, {320, 240}, 2.02);
    engine_->Send(engine::Property::kStartTime, 0.5);
    QCOMPARE(state_->duration(), 1.0);  // 25 of 50 pictures; the sound goes on to 1.14 s
    engine_->Send(engine::Property::kPosition, 1.5);
    QCOMPARE(state_->position(), 1.5);
    QVERIFY2(state_->fileReport().contains(
                 QLatin1String("Length: 1.00 s held (the header claims 2.02 s)")),
             qPrintable(state_->fileReport()));
    QVERIFY(state_->decodeProblem().isEmpty());
    engine_->Send(engine::Property::kEndReached, true);
    QCOMPARE(state_->decodeProblem(),
             QStringLiteral("It is cut off after 0:01; the header claims 0:02"));
    // The next file is read anew.
    LoadAndWait(flv_);
    QCOMPARE(state_->decodeProblem(), QString());
    QVERIFY(!state_->fileReport().contains(QLatin1String("MP4")));
  }

  void absurdClaimsGiveWayToWhatIsMeasured() {
    const QString path =
        WriteClip(QStringLiteral("absurd.flv"), 0, 20000, {{"duration", 2147483630.0}});
    LoadAndWait(path);
    QCOMPARE(state_->duration(), 20.04);
  }

  // A recording still being written: its length follows what is added.
  void aGrowingFileIsFollowed() {
    const QString path = WriteClip(QStringLiteral("growing.flv"), 0, 3000, {});
    LoadAndWait(path);
    engine_->OpenFile(1);
    QCOMPARE(state_->duration(), 3.04);
    flvtest::Builder more;
    for (uint32_t ms = 3040; ms <= 8000; ms += 40) more.H263(ms, ms % 1000 == 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    // The new tags without the header the builder starts with.
    const flvtest::Bytes& bytes = more.bytes();
    file.write(reinterpret_cast<const char*>(bytes.data()) + 13, qint64(bytes.size()) - 13);
    file.close();
    QTRY_COMPARE(state_->duration(), 8.04);
  }

  // A recording that turns to zeros while it is written: the player says
  // what it waits for as long as the writer goes on, and no longer.
  void aRecordingThatTurnsToZerosSaysWhatItWaitsFor() {
    const QString path = WriteClip(QStringLiteral("zeros.flv"), 0, 1600, {});
    LoadAndWait(path);
    engine_->OpenFile(1);
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    const QString waiting =
        QStringLiteral("The file being written holds no media after 0:01; waiting");
    QElapsedTimer writing;
    writing.start();
    while (state_->progress() != waiting && writing.elapsed() < 5000) {
      file.write(QByteArray(4096, '\0'));
      file.flush();
      QTest::qWait(10);
    }
    QCOMPARE(state_->progress(), waiting);
    file.close();
    QTRY_VERIFY_WITH_TIMEOUT(state_->progress().isEmpty(), 5000);
    QVERIFY(state_->fileReport().contains(QLatin1String("hold no tag")));
  }

  // AAC whose configuration names only its 22.05 kHz core may carry SBR all
  // the same: once it plays, the rate the decoder puts out is reported.
  void soundIsReportedAtTheRateItComesOut() {
    flvtest::Builder b(0x04);
    b.AacConfig(0, {0x13, 0x88});
    for (uint32_t ms = 0; ms < 2000; ms += 46) b.Aac(ms);
    const flvtest::Bytes& bytes = b.bytes();
    LoadAndWait(testsupport::WriteFile(
        dir_.filePath("he-aac.flv"),
        QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()))));
    engine_->OpenFile(1, {});
    QVERIFY(state_->fileReport().contains(QLatin1String("Audio: AAC, 22.05 kHz")));
    engine_->SeekDone();  // playback runs
    QCOMPARE(engine_->calls.constLast(), QStringLiteral("ask sample rate"));
    engine_->Answer(engine::Query::kSampleRate, qint64{44100});
    QVERIFY2(state_->fileReport().contains(QLatin1String("Audio: AAC, 44.1 kHz")),
             qPrintable(state_->fileReport()));
  }

  // An FLV refused before the engine sees it still tells what it holds.
  void aRefusedFlvTellsWhatItHolds() {
    session_->PlayAddress(testsupport::WriteFile(dir_.filePath("header.flv"),
                                                 QByteArray("FLV\x01\x05\0\0\0\x09", 9)));
    QTRY_VERIFY(state_->message().contains(QLatin1String("holds only an FLV header")));
    QVERIFY2(state_->fileReport().contains(QLatin1String("holds only its FLV header, and no tags")),
             qPrintable(state_->fileReport()));
    QVERIFY(engine_->loads.empty());
  }

  // Frames the engine hands over after a new file was asked for belong to the
  // file before, until a newly decoded one comes.
  void onlyTheFileInHandsFramesAreDrawn() {
    using Waiting = engine::Engine::Waiting;
    QCOMPARE(session_->AdmitFrame(Waiting::kNewFrame, false), FrameGate::Verdict::kSkipAndHide);
    LoadAndWait(flv_);
    engine_->OpenFile(1);
    QCOMPARE(session_->AdmitFrame(Waiting::kRedraw, false), FrameGate::Verdict::kSkip);
    QCOMPARE(session_->AdmitFrame(Waiting::kNewFrame, false), FrameGate::Verdict::kRender);
    QCOMPARE(session_->AdmitFrame(Waiting::kRedraw, false), FrameGate::Verdict::kRender);
    QCOMPARE(session_->AdmitFrame(Waiting::kNothing, false), FrameGate::Verdict::kNothing);
    engine_->Send(Property::kPictureOut, false);
    QCOMPARE(session_->AdmitFrame(Waiting::kNewFrame, false), FrameGate::Verdict::kSkipAndHide);
    engine_->Send(Property::kPictureOut, true);

    // The next file is sent and answered for, but the engine still plays
    // this one: what it decodes meanwhile is not the next file's picture.
    session_->PlayAddress(QStringLiteral("rtmp://127.0.0.1:9/next"));
    engine_->ReplyToLoad(2);
    QCOMPARE(session_->AdmitFrame(Waiting::kNewFrame, false), FrameGate::Verdict::kSkipAndHide);
    engine_->StartFile(2);
    QCOMPARE(session_->AdmitFrame(Waiting::kRedraw, false), FrameGate::Verdict::kSkip);
    // A repaint of the area asks for the picture held: the file before's.
    QCOMPARE(session_->AdmitFrame(Waiting::kNothing, true), FrameGate::Verdict::kHide);
    QCOMPARE(session_->AdmitFrame(Waiting::kNewFrame, false), FrameGate::Verdict::kRender);
    session_->Stop();
    QCOMPARE(session_->AdmitFrame(Waiting::kNothing, true), FrameGate::Verdict::kHide);
  }

  void seeksReportWhereTheyLanded() {
    LoadAndWait(flv_);
    engine_->OpenFile(1);
    QSignalSpy seeked(state_.get(), &PlaybackState::seeked);
    session_->SeekBy(5);
    QCOMPARE(engine_->calls.constLast(), QStringLiteral("seek 5 relative"));
    session_->SeekTo(-3);
    QCOMPARE(engine_->calls.constLast(), QStringLiteral("seek 0 absolute"));
    session_->SeekTo(qQNaN());
    QCOMPARE(engine_->calls.constLast(), QStringLiteral("seek 0 absolute"));
    engine_->SeekDone();
    QCOMPARE(engine_->calls.constLast(), QStringLiteral("ask position"));
    engine_->Answer(engine::Query::kPosition, 4.96);
    QCOMPARE(seeked.count(), 1);
    QCOMPARE(seeked.first().at(0).toDouble(), 4.96);
    QCOMPARE(state_->position(), 4.96);
  }

  void volumeIsClampedAndKeptWithoutAnEngine() {
    session_->SetEngine(nullptr);
    session_->SetVolume(140);
    QCOMPARE(state_->volume(), 100.0);
    session_->SetVolume(-3);
    QCOMPARE(state_->volume(), 0.0);
    session_->SetVolume(qQNaN());
    QCOMPARE(state_->volume(), 0.0);
    session_->SetMuted(true);
    QVERIFY(state_->muted());
    QVERIFY(engine_->calls.isEmpty());
  }

  void resumingAfterAStopOrTheEndPlaysAgain() {
    LoadAndWait(flv_);
    engine_->OpenFile(1);
    engine_->Send(Property::kEndReached, true);
    engine_->calls.clear();
    session_->Play();
    QCOMPARE(engine_->calls, QStringList({"seek 0 absolute", "pause no"}));
    session_->Stop();
    engine_->Send(Property::kNoFile, true);
    session_->Play();
    QTRY_COMPARE(int(engine_->loads.size()), 2);
  }

  // The status moves on only for the file in hand: events the engine still
  // sends about the file before, after a failure or from an engine that was
  // replaced never make the next file read as playing before it is open.
  void theStatusFollowsOnlyTheFileInHand() {
    session_->PlayAddress(QStringLiteral("rtmp://127.0.0.1:9/a"));
    engine_->OpenFile(1);
    QCOMPARE(state_->loadState(), LoadState::kPlaying);
    session_->PlayAddress(QStringLiteral("rtmp://127.0.0.1:9/b"));
    QCOMPARE(state_->loadState(), LoadState::kOpening);
    engine_->ReplyToLoad(2);
    // The file before reaches its end, then the end flag clears as the next
    // file starts: neither is the next file playing.
    engine_->Send(Property::kEndReached, true);
    engine_->Send(Property::kEndReached, false);
    engine_->FileLoaded();
    QCOMPARE(state_->loadState(), LoadState::kOpening);
    engine_->StartFile(2);
    QCOMPARE(state_->loadState(), LoadState::kOpening);
    engine_->FileLoaded();
    QCOMPARE(state_->loadState(), LoadState::kPlaying);

    // After a failure nothing of the failed file's moves it.
    session_->PlayAddress(QStringLiteral("rtmp://127.0.0.1:9/c"));
    engine_->ReplyToLoad(3);
    engine_->StartFile(3);
    engine_->EndFile(3, engine::EndReason::kError, QStringLiteral("loading failed"));
    QCOMPARE(state_->loadState(), LoadState::kFailed);
    engine_->FileLoaded();
    engine_->Send(Property::kEndReached, true);
    QCOMPARE(state_->loadState(), LoadState::kFailed);

    // A stuck engine's replacement opens the file afresh: the old engine's
    // reports no longer count, the new one's do.
    FakeEngine second;
    host_->onReplace = [&] { session_->SetEngine(&second); };
    session_->PlayAddress(QStringLiteral("rtmp://127.0.0.1:9/d"));
    engine_->ReplyToLoad(4);
    QTRY_VERIFY(host_->calls.contains("replace engine"));
    QVERIFY(!engine_->listener());
    QCOMPARE(state_->loadState(), LoadState::kOpening);
    second.ReplyToLoad(1);
    second.StartFile(1);
    second.Send(Property::kEndReached, false);
    QCOMPARE(state_->loadState(), LoadState::kOpening);
    second.FileLoaded();
    QCOMPARE(state_->loadState(), LoadState::kPlaying);
    session_->SetEngine(nullptr);
  }

  // A step back waiting when the next file starts is not for that file.
  void stepsBackWaitingAreNotForTheNextFile() {
    session_->SetTimings({.stuckMs = 100, .progressAfterMs = 50, .stepBackMs = 60000});
    LoadAndWait(flv_);
    engine_->OpenFile(1);
    const auto steps = [&] { return int(engine_->calls.count("step back")); };
    session_->StepFrame(false);
    session_->StepFrame(false);
    QCOMPARE(steps(), 1);
    LoadAndWait(flv_);
    engine_->OpenFile(2);
    engine_->SeekDone();
    QCOMPARE(steps(), 1);
  }

  void noStepsForSoundAloneOrWithNothingOpen() {
    session_->StepFrame(true);
    session_->StepFrame(false);
    LoadAndWait(flv_);
    engine_->OpenFile(1, {});
    stream_facts::Tracks sound;
    sound.audio = {true, true, QStringLiteral("mp3, 44.1 kHz")};
    engine_->Send(Property::kTracks, sound);
    QVERIFY(state_->audioOnly());
    session_->StepFrame(true);
    session_->StepFrame(false);
    QVERIFY(!engine_->calls.join(',').contains("step"));
  }

  void speedIsClampedToldAtOnceAndFollowsTheEngine() {
    const std::pair<double, double> asked[] = {{2, 2}, {10, 4}, {0.1, 0.25}, {1.1, 1.1}};
    for (const auto& [ask, got] : asked) {
      engine_->calls.clear();
      session_->SetSpeed(ask);
      QCOMPARE(state_->speed(), got);
      QCOMPARE(engine_->calls, QStringList({QStringLiteral("speed %1").arg(got)}));
    }
    engine_->calls.clear();
    for (double nonsense : {0.0, -2.0, qQNaN(), qInf()}) session_->SetSpeed(nonsense);
    QVERIFY(engine_->calls.isEmpty());
    QCOMPARE(state_->speed(), 1.1);
    // The engine's own word is the last.
    engine_->Send(Property::kSpeed, 1.5);
    QCOMPARE(state_->speed(), 1.5);
    engine_->Send(Property::kSpeed, engine::Value{});
    QCOMPARE(state_->speed(), 1.5);
  }

  void aPictureIsTakenOnceAndOnlyWhenAsked() {
    QSignalSpy taken(session_.get(), &Session::pictureTaken);
    session_->CopyPicture();  // nothing open
    QVERIFY(engine_->calls.isEmpty());
    LoadAndWait(flv_);
    engine_->OpenFile(1, {640, 360});
    engine_->calls.clear();
    session_->CopyPicture();
    QCOMPARE(engine_->calls, QStringList({"grab picture"}));
    QImage picture(640, 360, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    engine_->SendPicture(picture);
    QCOMPARE(taken.count(), 1);
    QCOMPARE(taken.at(0).at(0).value<QImage>(), picture);
    // The same reply again, or one nobody asked for, is not a second copy.
    engine_->SendPicture(picture);
    engine_->listener()->OnPicture(engine_->lastPictureToken + 7, picture);
    QCOMPARE(taken.count(), 1);
    // Nothing to take is no copy.
    session_->CopyPicture();
    engine_->SendPicture(QImage());
    QCOMPARE(taken.count(), 1);
  }

  void theFileInHandIsWhatTheEngineWasGiven() {
    QVERIFY(!session_->FileInHand());
    LoadAndWait(flv_);
    QVERIFY(!session_->FileInHand());  // not open yet
    engine_->OpenFile(1);
    const std::optional<engine::LoadRequest> file = session_->FileInHand();
    QVERIFY(file && file->file && file->file == engine_->loads.back().file);
    QCOMPARE(file->format, engine::LoadRequest::Format::kFlv);
    // A newer address on its way: the old file is no longer in hand.
    session_->PlayAddress(QStringLiteral("rtmp://127.0.0.1:9/a"));
    QVERIFY(!session_->FileInHand());
    engine_->OpenFile(2);
    QCOMPARE(session_->FileInHand()->url, QStringLiteral("rtmp://127.0.0.1:9/a"));
    session_->Stop();
    QVERIFY(!session_->FileInHand());
  }

  // An http file's length, from one request for its last bytes: only a
  // server that answers with the range asked for is read, and the engine's
  // own length stands unless it cannot be right.
  void aRangeServersTailGivesTheLengthTheMetadataLeftOut() {
    // 20 s of frames, well over the 64 KiB asked for, claiming 0 s.
    const QByteArray clip = Clip(0, 20000, {{"duration", 0}});
    QVERIFY(clip.size() > 3 * TailProbe::kWindowBytes);
    FileServer server(clip, FileServer::Mode::kRanges, 4 << 20);
    LoadAndWait(server.Url());
    engine_->OpenFile(1, {320, 240}, 0);
    QTRY_COMPARE(state_->duration(), 20.0);
    QVERIFY(!state_->live());
    QVERIFY2(state_->fileReport().contains(QLatin1String("Length: 20.00 s, measured from the "
                                                         "file's end over the network")),
             qPrintable(state_->fileReport()));
    // The file itself, from its start, and its tail.
    QCOMPARE(server.Requests(), 2);
    QCOMPARE(server.FarthestRange(), qint64{0});

    // The engine's later word is weighed against the measured end: close
    // enough stands, absurd or far off does not.
    // (Each smaller than the one before: a length that grows is a live
    // stream's.)
    engine_->Send(Property::kDuration, 4e9);
    QCOMPARE(state_->duration(), 20.0);
    engine_->Send(Property::kDuration, 20.5);
    QCOMPARE(state_->duration(), 20.5);
    QVERIFY2(state_->fileReport().contains(QLatin1String("as the stream says")),
             qPrintable(state_->fileReport()));
    engine_->Send(Property::kDuration, 12.0);
    QCOMPARE(state_->duration(), 20.0);
    // The measured end counts from the engine's first timestamp.
    engine_->Send(Property::kStartTime, 5.0);
    QCOMPARE(state_->duration(), 15.0);

    // A file smaller than the window comes whole, header and all.
    FileServer small(Clip(3000, 6000, {}), FileServer::Mode::kRanges, 4 << 20);
    LoadAndWait(small.Url());
    engine_->OpenFile(2, {320, 240}, 0);
    engine_->Send(Property::kStartTime, 3.0);
    QTRY_COMPARE(state_->duration(), 3.0);
    QCOMPARE(small.Requests(), 2);
  }

  void withoutRangesNoTailIsAskedAndTheEngineIsBelieved() {
    const QByteArray clip = Clip(0, 20000, {{"duration", 0}});
    FileServer server(clip, FileServer::Mode::kNoRanges, 1 << 20);
    LoadAndWait(server.Url());
    engine_->OpenFile(1, {320, 240}, 12.0);
    QTest::qWait(100);
    QCOMPARE(server.Requests(), 1);
    QCOMPARE(state_->duration(), 12.0);
    QVERIFY(!state_->fileReport().contains(QLatin1String("measured")));

    // A length that grows as the engine reads is a live stream's; unless the
    // server handed over the end of a file of known size.
    FileServer stream(clip + clip, FileServer::Mode::kNoRanges, 1 << 20);
    LoadAndWait(stream.Url());
    engine_->OpenFile(2, {320, 240}, 1.0);
    engine_->Send(Property::kDuration, 2.0);
    QVERIFY(state_->live());
    QCOMPARE(state_->duration(), 0.0);
    FileServer ranged(clip, FileServer::Mode::kRanges, 4 << 20);
    LoadAndWait(ranged.Url());
    engine_->OpenFile(3, {320, 240}, 1.0);
    engine_->Send(Property::kDuration, 2.0);
    QTRY_COMPARE(state_->duration(), 20.0);
    QVERIFY(!state_->live());
    engine_->Send(Property::kDuration, 3.0);
    QVERIFY(!state_->live());
    QCOMPARE(state_->duration(), 20.0);
  }

  // A server that keeps sending past the part it named: what follows is
  // never read, by the engine or the tail request.
  void aServerSendingMoreThanItNamedIsReadOnlyAsFarAsItNamed() {
    const QByteArray clip = Clip(0, 20000, {{"duration", 0}});
    FileServer server(clip, FileServer::Mode::kRangesOverrun, 1 << 20);
    LoadAndWait(server.Url());
    const std::shared_ptr<net::HttpFile> file = engine_->connections.back().lock();
    QVERIFY(file);
    QCOMPARE(file->Size(), qint64(clip.size()));
    std::string all;
    char buffer[65536];
    for (int64_t got; (got = file->Read(buffer, sizeof buffer)) > 0;)
      all.append(buffer, size_t(got));
    QCOMPARE(all.size(), size_t(clip.size()));
    engine_->OpenFile(1, {320, 240}, 0);
    QTRY_COMPARE(state_->duration(), 20.0);
  }

  // The answer about a file is never taken for the next one's, and its
  // requests end with it.
  void aNewAddressOrAStopEndsItsRequests() {
    const QByteArray longClip = Clip(0, 30000, {{"duration", 0}});
    FileServer slow(longClip, FileServer::Mode::kRanges, 4000);
    LoadAndWait(slow.Url());
    QTRY_COMPARE(slow.Requests(), 2);
    FileServer fast(Clip(0, 8000, {{"duration", 0}}), FileServer::Mode::kRanges, 4 << 20);
    LoadAndWait(fast.Url());
    QTRY_COMPARE(slow.Aborted(), 2);
    engine_->OpenFile(2, {320, 240}, 0);
    QTRY_COMPARE(state_->duration(), 8.0);

    // The same for a local file, and for a stop.
    FileServer slow2(longClip, FileServer::Mode::kRanges, 4000);
    LoadAndWait(slow2.Url());
    QTRY_COMPARE(slow2.Requests(), 2);
    LoadAndWait(flv_);
    QTRY_COMPARE(slow2.Aborted(), 2);
    FileServer slow3(longClip, FileServer::Mode::kRanges, 4000);
    LoadAndWait(slow3.Url());
    engine_->OpenFile(4, {320, 240}, 0);
    QTRY_COMPARE(slow3.Requests(), 2);
    session_->Stop();
    QTRY_COMPARE(slow3.Aborted(), 2);
    QCOMPARE(state_->duration(), 0.0);
  }

  // A stuck engine's replacement cannot read the connection the old one
  // ends as it goes: it gets one of its own.
  void aStuckEnginesReplacementReadsAConnectionOfItsOwn() {
    FakeEngine second;
    host_->onReplace = [&] { session_->SetEngine(&second); };
    FileServer server(Clip(0, 20000, {{"duration", 0}}), FileServer::Mode::kRanges, 4 << 20);
    session_->PlayAddress(server.Url());
    QTRY_VERIFY(host_->calls.contains("replace engine"));
    QTRY_COMPARE(int(second.loads.size()), 1);
    QVERIFY(second.connections.front().lock());
    QVERIFY(second.connections.front().lock() != engine_->connections.front().lock());
    second.OpenFile(1, {320, 240}, 0);
    QTRY_COMPARE(state_->duration(), 20.0);
    session_->SetEngine(nullptr);
  }

  void onlyHttpTailsAreAsked() {
    TailProbe probe;
    for (const char* url : {"rtmp://127.0.0.1/live/a", "ftp://127.0.0.1/a.flv", "file:///a.flv"}) {
      probe.Start(QString::fromLatin1(url), 1000, {});
      QVERIFY2(!probe.Running(), url);
    }
    FileServer silent(QByteArray(), FileServer::Mode::kSilent, 0);
    probe.Start(silent.Url(), 1000, {});
    QVERIFY(probe.Running());
    QTRY_COMPARE(silent.Connections(), 1);
    probe.Cancel();
    QVERIFY(!probe.Running());
  }

  // An engine that never starts the file asked for (an open that hangs) is
  // replaced, and the new one gets the same file.
  void aStuckEngineIsReplacedAndTheFilePlaysOnTheNewOne() {
    FakeEngine second;
    host_->onReplace = [&] { session_->SetEngine(&second); };
    LoadAndWait(flv_);
    QTRY_VERIFY(host_->calls.contains("replace engine"));
    QCOMPARE(int(second.loads.size()), 1);
    QVERIFY(second.loads.front().file == engine_->loads.front().file);
    // The new one answers: nothing more is replaced.
    second.OpenFile(1);
    host_->calls.clear();
    QTest::qWait(250);
    QVERIFY(!host_->calls.contains("replace engine"));
    QCOMPARE(state_->loadState(), LoadState::kPlaying);
    session_->SetEngine(nullptr);
  }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
