// The player's on-screen interface on its own: the control bar, the keys from
// the action table, wheel, clicks and drops, the bar's hiding, and what is
// painted over the picture. It sees a playback state set by the test and
// writes down what it asks of the player.
#include <QAccessible>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QSlider>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "movie.h"
#include "playback_state.h"
#include "playback_time.h"
#include "player_actions.h"
#include "player_controls.h"
#include "player_overlay.h"
#include "recording_commands.h"
#include "seek_bar.h"

namespace {

movie::Movie PlayerMovie(bool controls = true) {
  movie::Movie m;
  m.kind = movie::Kind::kPlayer;
  m.background = QColor(Qt::black);
  m.textColor = Qt::white;
  m.controls = controls;
  return m;
}

// Light pixels of an image in a band.
int LightPixels(const QImage& image, const QRect& band) {
  int light = 0;
  for (int y = band.top(); y <= band.bottom(); ++y) {
    for (int x = band.left(); x <= band.right(); ++x) light += qGray(image.pixel(x, y)) > 160;
  }
  return light;
}

}  // namespace

class TestPlayerUi : public QObject {
  Q_OBJECT

  std::unique_ptr<QWidget> area_;
  std::unique_ptr<PlaybackState> state_;
  RecordingCommands commands_;
  PlayerOverlay* overlay_ = nullptr;
  PlayerControls* controls_ = nullptr;
  movie::Movie movie_ = PlayerMovie();

  // A file open and playing, as the session would report it.
  void Playing(double duration = 8) {
    state_->SetHasFile(true);
    state_->SetDuration(duration);
    state_->SetPaused(false);
    state_->AnnounceFileLoaded();
  }

  QImage Painted() {
    QImage layer(area_->size(), QImage::Format_RGB32);
    layer.fill(Qt::black);
    QPainter painter(&layer);
    overlay_->Paint(painter);
    return layer;
  }

  bool Drop(QMimeData* data) {
    const QPointF at(100, 100);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, {});
    QApplication::sendEvent(area_.get(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, {});
    QApplication::sendEvent(area_.get(), &drop);
    return drop.isAccepted();
  }

 private slots:
  void init() {
    area_ = std::make_unique<QWidget>();
    area_->resize(320, 240);
    state_ = std::make_unique<PlaybackState>();
    commands_.calls.clear();
    overlay_ = new PlayerOverlay(*area_, *state_, commands_);
    overlay_->SetHideDelay(60);
    controls_ = overlay_->Controls();
    overlay_->SetMovie(&movie_);
    area_->show();
    QVERIFY(QTest::qWaitForWindowExposed(area_.get()));
  }

  void cleanup() {
    area_.reset();
    state_.reset();
  }

  void timeTextReadsMinutesHoursOrDashes() {
    QCOMPARE(PlaybackTimeText(0, 0), QStringLiteral("0:00 / --:--"));
    QCOMPARE(PlaybackTimeText(75.9, -1), QStringLiteral("1:15 / --:--"));
    QCOMPARE(PlaybackTimeText(65.9, 3599.5), QStringLiteral("1:05 / 59:59"));
    // Past an hour both sides carry hours, so they line up.
    QCOMPARE(PlaybackTimeText(62, 7200), QStringLiteral("0:01:02 / 2:00:00"));
    QCOMPARE(PlaybackTimeText(3725, 0), QStringLiteral("1:02:05 / --:--"));
    QCOMPARE(PlaybackTimeText(std::nan(""), 10), QStringLiteral("0:00 / 0:10"));
    // Absurd times read as large numbers, never as negative ones.
    QCOMPARE(FormatPlaybackTime(2147483630.0, true), QStringLiteral("596523:13:50"));
    QVERIFY(!PlaybackTimeText(1e300, 1e300).contains(u'-'));
    QCOMPARE(FormatPlaybackTime(-3, false), QStringLiteral("0:00"));
  }

  void everyControlIsNamedAndLeavesTheFocusToThePlayer() {
    QCOMPARE(area_->focusPolicy(), Qt::StrongFocus);
    const QList<QWidget*> widgets{controls_->PlayPauseButton(), controls_->Seek(),
                                  controls_->TimeLabel(),       controls_->MuteButton(),
                                  controls_->VolumeSlider(),    overlay_->ReplayButton()};
    for (QWidget* w : widgets) {
      QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
      QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
      QCOMPARE(w->focusPolicy(), Qt::NoFocus);
      // What assistive technology reads is the name given.
      QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(w);
      QVERIFY(a11y);
      QCOMPARE(a11y->text(QAccessible::Name), w->accessibleName());
    }
  }

  // Tooltips name the keys the action table gives, so they cannot drift.
  void tooltipsComeFromTheActionTable() {
    using player_actions::Get;
    using player_actions::Id;
    QCOMPARE(controls_->PlayPauseButton()->toolTip(),
             QStringLiteral("Play (%1)").arg(player_actions::KeyText(Get(Id::kPlayPause))));
    Playing();
    QCOMPARE(controls_->PlayPauseButton()->toolTip(), QStringLiteral("Pause (Space)"));
    QCOMPARE(controls_->MuteButton()->toolTip(), QStringLiteral("Mute (M)"));
    QVERIFY2(controls_->Seek()->toolTip().contains(
                 QString::number(player_actions::kSeekStepSeconds) + " seconds"),
             qPrintable(controls_->Seek()->toolTip()));
    // Every action has keys, a name and help, and no key does two things.
    QSet<int> keys;
    for (const player_actions::Action& action : player_actions::All()) {
      QVERIFY(!action.keys.isEmpty() && !action.name.isEmpty() && !action.help.isEmpty());
      for (const QKeyCombination key : action.keys) {
        QVERIFY2(!keys.contains(key.toCombined()), qPrintable(action.name));
        keys.insert(key.toCombined());
      }
    }
  }

  void controlsOnlyWithThePlayerMovieThatWantsThem() {
    Playing();
    QVERIFY(overlay_->ControlsVisible());
    overlay_->SetMovie(nullptr);
    QVERIFY(!overlay_->ControlsVisible());
    movie::Movie still;
    overlay_->SetMovie(&still);
    QVERIFY(!overlay_->ControlsVisible());
    // A player movie without controls still answers the keys.
    const movie::Movie bare = PlayerMovie(false);
    overlay_->SetMovie(&bare);
    QVERIFY(!overlay_->ControlsVisible());
    QTest::keyClick(area_.get(), Qt::Key_Space);
    QCOMPARE(commands_.calls, QStringList({"TogglePause"}));
    // Under another movie, keys pass through untouched.
    overlay_->SetMovie(&still);
    QTest::keyClick(area_.get(), Qt::Key_Space);
    QCOMPARE(commands_.calls.size(), 1);
  }

  void keysRunTheActionTable() {
    Playing();
    state_->SetVolume(50);
    const std::pair<Qt::Key, const char*> cases[] = {
        {Qt::Key_Space, "TogglePause"}, {Qt::Key_Right, "SeekBy 5"},
        {Qt::Key_Left, "SeekBy -5"},    {Qt::Key_Home, "SeekTo 0"},
        {Qt::Key_Up, "SetVolume 55"},   {Qt::Key_Down, "SetVolume 45"},
        {Qt::Key_M, "SetMuted 1"},
    };
    for (const auto& [key, call] : cases) {
      commands_.calls.clear();
      QTest::keyClick(area_.get(), key);
      QCOMPARE(commands_.calls, QStringList({QLatin1String(call)}));
    }
    // The keypad's keys are the same keys; with a modifier they belong to the
    // window's menus.
    commands_.calls.clear();
    QTest::keyClick(area_.get(), Qt::Key_Right, Qt::KeypadModifier);
    QCOMPARE(commands_.calls, QStringList({"SeekBy 5"}));
    QTest::keyClick(area_.get(), Qt::Key_M, Qt::ControlModifier);
    QTest::keyClick(area_.get(), Qt::Key_Q);
    QCOMPARE(commands_.calls.size(), 1);
  }

  void wheelChangesTheVolumeByNotches() {
    Playing();
    state_->SetVolume(50);
    const auto wheel = [&](int delta) {
      const QPointF at(100, 100);
      QWheelEvent event(at, area_->mapToGlobal(at), {}, QPoint(0, delta), Qt::NoButton, {},
                        Qt::NoScrollPhase, false);
      QApplication::sendEvent(area_.get(), &event);
    };
    wheel(-240);
    QCOMPARE(commands_.calls.constLast(), QStringLiteral("SetVolume 40"));
    // A fine-stepping wheel: two half notches make one step.
    commands_.calls.clear();
    wheel(60);
    QVERIFY(commands_.calls.isEmpty());
    wheel(60);
    QCOMPARE(commands_.calls, QStringList({"SetVolume 55"}));
  }

  void clickOnThePictureTogglesPauseButNotOnTheControls() {
    // Nothing open: a click is no request to try a failed address again.
    QTest::mouseClick(area_.get(), Qt::LeftButton, {}, QPoint(160, 60));
    QVERIFY(commands_.calls.isEmpty());
    Playing();
    QTest::mouseClick(area_.get(), Qt::LeftButton, {}, QPoint(160, 60));
    QCOMPARE(commands_.calls, QStringList({"TogglePause"}));
    QTest::mouseClick(area_.get(), Qt::RightButton, {}, QPoint(160, 60));
    QCOMPARE(commands_.calls.size(), 1);
    // Between the bar's controls nothing happens; its button is a button.
    commands_.calls.clear();
    QVERIFY(overlay_->ControlsVisible());
    QLabel* time = controls_->TimeLabel();
    QTest::mouseClick(time, Qt::LeftButton, {}, time->rect().center());
    QVERIFY(commands_.calls.isEmpty());
    QTest::mouseClick(controls_->PlayPauseButton(), Qt::LeftButton);
    QCOMPARE(commands_.calls, QStringList({"TogglePause"}));
  }

  void seekBarSeeksWhereClickedOnlyWhenTheLengthIsKnown() {
    Playing(8);
    SeekBar* bar = controls_->Seek();
    QCOMPARE(bar->Duration(), 8.0);
    // Three quarters along the track (the handle's radius trims each end).
    const int x = 5 + (bar->width() - 10) * 3 / 4;
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x, bar->height() / 2));
    QCOMPARE(commands_.calls.size(), 1);
    QVERIFY2(std::abs(commands_.calls[0].section(' ', 1).toDouble() - 6.0) < 0.1,
             qPrintable(commands_.calls[0]));
    state_->SetDuration(0);
    commands_.calls.clear();
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x, bar->height() / 2));
    QVERIFY(commands_.calls.isEmpty());
    QCOMPARE(controls_->TimeLabel()->text(), QStringLiteral("0:00 / --:--"));
  }

  void barHidesWhileAPictureMovesAndComesBack() {
    Playing();
    QVERIFY(overlay_->ControlsVisible());
    QTRY_VERIFY(!overlay_->ControlsVisible());
    QTest::mouseMove(area_.get(), QPoint(100, 100));
    QTest::mouseMove(area_.get(), QPoint(110, 100));
    QTRY_VERIFY(overlay_->ControlsVisible());
    QTRY_VERIFY(!overlay_->ControlsVisible());
    // A key brings it back too.
    QTest::keyClick(area_.get(), Qt::Key_Up);
    QVERIFY(overlay_->ControlsVisible());
    // Paused, ended, waiting or sound only, it stays.
    const std::function<void(bool)> holds[] = {
        [&](bool on) { state_->SetPaused(on); },
        [&](bool on) { state_->SetEndReached(on); },
        [&](bool on) { state_->SetBuffering(on, 40); },
        [&](bool on) { state_->SetAudioOnly(on); },
    };
    for (const auto& hold : holds) {
      hold(true);
      QVERIFY(overlay_->ControlsVisible());
      QTest::qWait(200);
      QVERIFY(overlay_->ControlsVisible());
      hold(false);
      QTRY_VERIFY(!overlay_->ControlsVisible());
    }
  }

  void endShowsReplayWhichPlaysAgain() {
    Playing();
    QVERIFY(!overlay_->ReplayVisible());
    state_->SetEndReached(true);
    QVERIFY(overlay_->ReplayVisible() && overlay_->ControlsVisible());
    QTest::mouseClick(overlay_->ReplayButton(), Qt::LeftButton);
    QCOMPARE(commands_.calls, QStringList({"Play"}));
  }

  void indicatorsArePaintedOverThePicture() {
    Playing();
    // Sound only: a light note, "Audio only" and the file's name.
    state_->SetTitle(QStringLiteral("song.flv"), QStringLiteral("file:///song.flv"));
    state_->SetAudioOnly(true);
    QImage painted = Painted();
    QVERIFY(LightPixels(painted, QRect(120, 30, 80, 60)) > 50);
    QVERIFY(LightPixels(painted, QRect(40, 120, 240, 40)) > 50);
    state_->SetAudioOnly(false);

    QVERIFY(overlay_->BufferingText().isEmpty());
    state_->SetBuffering(true, 42);
    QCOMPARE(overlay_->BufferingText(), QStringLiteral("Buffering\u2026 42%"));
    QVERIFY(LightPixels(Painted(), QRect(0, 100, 320, 40)) > 50);
    state_->SetBuffering(false, 0);

    state_->SetProgress(QStringLiteral("Waiting for example.com: 40 KB received"));
    QVERIFY(LightPixels(Painted(), QRect(0, 100, 320, 40)) > 50);
    state_->SetProgress({});

    // A stream that cannot be decoded: a notice along the top, for a while.
    state_->SetDecodeProblem(QStringLiteral("Audio could not be decoded: unsupported codec"));
    QCOMPARE(overlay_->Notice(), state_->decodeProblem());
    QVERIFY(LightPixels(Painted(), QRect(0, 8, 320, 22)) > 50);
    overlay_->SetMovie(&movie_);  // a new movie starts without it
    QVERIFY(overlay_->Notice().isEmpty());
  }

  void dropsAreHandedOnAsSent() {
    auto file = std::make_unique<QMimeData>();
    file->setData(QStringLiteral("text/uri-list"), "# a comment\r\nfile:///v/caf%E9.flv\r\n");
    QVERIFY(Drop(file.get()));
    QCOMPARE(commands_.calls, QStringList({"OpenAddress file:///v/caf%E9.flv"}));
    auto text = std::make_unique<QMimeData>();
    text->setText(QStringLiteral("  http://example.com/a.flv \nsecond line"));
    QVERIFY(Drop(text.get()));
    QCOMPARE(commands_.calls.constLast(), QStringLiteral("OpenAddress http://example.com/a.flv"));
    // Nothing is taken while no player movie is loaded.
    overlay_->SetMovie(nullptr);
    QVERIFY(!Drop(text.get()));
    QCOMPARE(commands_.calls.size(), 2);
  }
};

QTEST_MAIN(TestPlayerUi)
#include "test_player_ui.moc"
