// The seek bar's previews on engines played by the test: the preview engine
// is made only by the first request for a file, from the player's own
// factory, opens what the player's engine was given, answers only the newest
// request, gives up on files it cannot seek in, and goes with the file.
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "player/seek_preview.h"
#include "support/fake_engine.h"

using engine::Property;
using Purpose = engine::Settings::Purpose;

class TestSeekPreview : public QObject {
  Q_OBJECT

  std::unique_ptr<PlaybackState> state_;
  std::optional<engine::LoadRequest> inHand_;
  FakeEngines engines_;
  std::unique_ptr<SeekPreview> preview_;

  // A file open in the player, as the session reports it.
  void FileOpen(double duration = 60) {
    state_->SetHasFile(true);
    state_->SetDuration(duration);
    state_->SetVideoSize({640, 360});
    state_->AnnounceFileLoaded();
    engine::LoadRequest request;
    request.source = engine::LoadRequest::Source::kLocalFile;
    request.file = std::make_shared<FileHandle>(-1);
    inHand_ = request;
  }

  // The preview engine's side of opening the file.
  FakeEngine* Opened(bool seekable = true) {
    FakeEngine* engine = engines_.Live(Purpose::kPreview);
    if (!engine) return nullptr;
    engine->FileLoaded();
    engine->Send(Property::kSeekable, seekable);
    return engine;
  }

  // The engine's answer to the seek asked for last: it lands, then the picture.
  void Land(FakeEngine* engine, const QImage& picture) {
    engine->SeekDone();
    QVERIFY(engine->calls.constLast() == QStringLiteral("grab picture"));
    engine->SendPicture(picture);
  }

  static QImage Picture(Qt::GlobalColor colour) {
    QImage picture(160, 90, QImage::Format_RGB32);
    picture.fill(colour);
    return picture;
  }

  int Seeks(const FakeEngine* engine) const {
    return int(engine->calls.filter(QStringLiteral(" keyframe")).size());
  }

 private slots:
  void init() {
    state_ = std::make_unique<PlaybackState>();
    inHand_.reset();
    engines_ = FakeEngines();
    preview_ = std::make_unique<SeekPreview>(
        *state_, [this] { return inHand_; }, engines_.Factory());
  }

  void cleanup() {
    preview_.reset();
    state_.reset();
  }

  void nothingIsSpentBeforeTheFirstRequest() {
    FileOpen();
    QVERIFY(preview_->Available());
    QTest::qWait(50);
    QVERIFY(engines_.made.empty());
    preview_->Request(12);
    QCOMPARE(int(engines_.made.size()), 1);
    FakeEngine* engine = engines_.last();
    QCOMPARE(engine->settings.purpose, Purpose::kPreview);
    // The player's own file: the same descriptor, never a name.
    QCOMPARE(int(engine->loads.size()), 1);
    QVERIFY(engine->loads.front().file == inHand_->file);
    // No seek before the file is open and known to be seekable.
    QCOMPARE(Seeks(engine), 0);
    engine->FileLoaded();
    QCOMPARE(Seeks(engine), 0);
    engine->Send(Property::kSeekable, true);
    QCOMPARE(engine->calls.constLast(), QStringLiteral("seek 12 keyframe"));
  }

  void onlyTheNewestRequestIsAnsweredAndEachWithItsMoment() {
    FileOpen();
    QSignalSpy ready(preview_.get(), &PreviewSource::pictureReady);
    preview_->Request(10);
    FakeEngine* engine = Opened();
    QCOMPARE(Seeks(engine), 1);
    // The pointer sweeps on while the first is under way.
    for (double at : {11.0, 12.0, 13.0, 14.0}) preview_->Request(at);
    QCOMPARE(Seeks(engine), 1);
    Land(engine, Picture(Qt::red));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(ready.at(0).at(0).toDouble(), 10.0);
    QCOMPARE(ready.at(0).at(1).value<QImage>(), Picture(Qt::red));
    // Then straight to the newest.
    QCOMPARE(engine->calls.constLast(), QStringLiteral("seek 14 keyframe"));
    Land(engine, Picture(Qt::blue));
    QCOMPARE(ready.count(), 2);
    QCOMPARE(ready.at(1).at(0).toDouble(), 14.0);
    QCOMPARE(Seeks(engine), 2);
    // Past the end is the end.
    preview_->Request(600);
    QCOMPARE(engine->calls.constLast(), QStringLiteral("seek 60 keyframe"));
  }

  void theOpeningsOwnRestartIsNoAnswer() {
    FileOpen();
    preview_->Request(30);
    FakeEngine* engine = Opened();
    // The engine restarts once it has opened the file, before any seek of
    // ours has started: that picture is of the start, not of 30 s.
    engine->listener()->OnPlaybackRestarted();
    QVERIFY(!engine->calls.contains(QStringLiteral("grab picture")));
    engine->SeekDone();
    QCOMPARE(engine->calls.constLast(), QStringLiteral("grab picture"));
  }

  void cancelledRequestsAreNotSoughtButTheOneUnderWayStillComes() {
    FileOpen();
    QSignalSpy ready(preview_.get(), &PreviewSource::pictureReady);
    preview_->Request(5);
    FakeEngine* engine = Opened();
    preview_->Request(6);
    preview_->Cancel();
    Land(engine, Picture(Qt::red));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(Seeks(engine), 1);
  }

  void aFileThatCannotSeekGetsNoPreviews() {
    FileOpen();
    preview_->Request(5);
    FakeEngine* engine = Opened(false);
    QCOMPARE(Seeks(engine), 0);
    QVERIFY(!preview_->Available());
    QVERIFY(!engines_.IsLive(engine));
    preview_->Request(6);
    QCOMPARE(int(engines_.made.size()), 1);
    // The next file may.
    FileOpen();
    QVERIFY(preview_->Available());
    preview_->Request(6);
    QCOMPARE(int(engines_.made.size()), 2);
  }

  void aFileThatFailsToOpenGetsNoPreviews() {
    FileOpen();
    preview_->Request(5);
    FakeEngine* engine = engines_.last();
    engine->EndFile(1, engine::EndReason::kError, QStringLiteral("unrecognized file format"));
    QVERIFY(!preview_->Available());
    QVERIFY(!engines_.IsLive(engine));
  }

  void aStuckEngineIsDroppedWithoutWaitingForIt() {
    preview_->SetTimeout(50);
    FileOpen();
    preview_->Request(5);
    FakeEngine* engine = Opened();
    QCOMPARE(Seeks(engine), 1);
    // The seek never lands.
    QTRY_VERIFY(!engines_.IsLive(engine));
    QVERIFY(engines_.WasAbandoned(engine));
    QVERIFY(!preview_->Available());
  }

  void theEngineGoesWithTheFile() {
    FileOpen();
    preview_->Request(5);
    FakeEngine* first = Opened();
    QVERIFY(preview_->HasEngine());
    // Another file: the engine that knew the old one goes, unwaited for.
    FileOpen();
    QVERIFY(!engines_.IsLive(first));
    QVERIFY(engines_.WasAbandoned(first));
    QVERIFY(!preview_->HasEngine());
    preview_->Request(7);
    QCOMPARE(int(engines_.made.size()), 2);
    FakeEngine* second = engines_.last();
    // No file at all.
    state_->SetHasFile(false);
    QVERIFY(!engines_.IsLive(second));
    QVERIFY(!preview_->Available());
  }
};

QTEST_MAIN(TestSeekPreview)
#include "test_seek_preview.moc"
