// The player's on-screen interface on its own: the control bar, the keys from
// the action table (on any keyboard layout), wheel, clicks and drops, the
// bar's hiding, the keyboard's way through the controls and what assistive
// technology reads of them, the list of keys, the speed shown, the seek
// bar's preview, and what is painted over the picture. It sees a playback
// state set by the test and writes down what it asks of the player.
#include <QAccessible>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QSlider>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "media/movie.h"
#include "player_model/playback_state.h"
#include "player_model/preview_source.h"
#include "player_ui/help_view.h"
#include "player_ui/playback_time.h"
#include "player_ui/player_actions.h"
#include "player_ui/player_controls.h"
#include "player_ui/player_overlay.h"
#include "player_ui/seek_bar.h"
#include "player_ui/seek_preview_popup.h"
#include "support/overlay_fixture.h"
#include "support/recording_commands.h"

namespace {

using overlay_fixture::LightPixels;
using overlay_fixture::PlayerMovie;

// A preview source played by the test: it writes down what is asked.
class RecordingPreview : public PreviewSource {
 public:
  QStringList calls;
  bool available = true;
  bool Available() const override { return available; }
  void Request(double seconds) override { calls << QStringLiteral("Request %1").arg(seconds); }
  void Cancel() override { calls << "Cancel"; }
  void Answer(double seconds, const QImage& picture) { emit pictureReady(seconds, picture); }
};

// A key press as a keyboard layout delivers it: the key it produced, with
// whatever modifiers it took to produce it.
void Press(QWidget* w, Qt::Key key, Qt::KeyboardModifiers modifiers, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(w, &release);
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

  void Playing(double duration = 8) { overlay_fixture::Playing(*state_, duration); }

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
    // The pointer starts over the picture, whatever the test before left
    // it on: over the controls it would keep them up.
    QTest::mouseMove(area_.get(), QPoint(160, 60));
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

  void everyControlIsNamedAndTabReachesIt() {
    QCOMPARE(area_->focusPolicy(), Qt::StrongFocus);
    state_->SetSpeed(1.5);  // the speed shows, and is a control, only now
    const QList<QWidget*> widgets{controls_->PlayPauseButton(), controls_->Seek(),
                                  controls_->TimeLabel(),       controls_->SpeedButton(),
                                  controls_->MuteButton(),      controls_->VolumeSlider(),
                                  overlay_->ReplayButton()};
    for (QWidget* w : widgets) {
      QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
      QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
      // Tab reaches the controls; a click leaves the focus with the player
      // area and its keys. The time is read, not worked.
      QCOMPARE(w->focusPolicy(), w == controls_->TimeLabel() ? Qt::NoFocus : Qt::TabFocus);
      // What assistive technology reads is the name given.
      QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(w);
      QVERIFY(a11y);
      QCOMPARE(a11y->text(QAccessible::Name), w->accessibleName());
    }
  }

  // Tab from the player area brings the controls up, goes through them in
  // the order they stand, and a control's unused keys still reach the player.
  void tabWalksTheControlsInOrderAndTheirKeysWork() {
    Playing();
    state_->SetVolume(50);
    state_->SetSpeed(2);
    QTRY_VERIFY(!overlay_->ControlsVisible());
    area_->activateWindow();
    area_->setFocus();
    QTRY_VERIFY(area_->hasFocus());
    const QList<QWidget*> order{controls_->PlayPauseButton(), controls_->Seek(),
                                controls_->SpeedButton(), controls_->MuteButton(),
                                controls_->VolumeSlider()};
    for (QWidget* expected : order) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QVERIFY(overlay_->ControlsVisible());
      QCOMPARE(QApplication::focusWidget(), expected);
    }
    // The focused volume answers the arrow keys itself.
    commands_.calls.clear();
    QTest::keyClick(controls_->VolumeSlider(), Qt::Key_Right);
    QCOMPARE(commands_.calls, QStringList({"SetVolume 55"}));
    // Keys the control does not use are the player area's.
    commands_.calls.clear();
    QTest::keyClick(controls_->VolumeSlider(), Qt::Key_M);
    QTest::keyClick(controls_->VolumeSlider(), Qt::Key_Period);
    QCOMPARE(commands_.calls, QStringList({"SetMuted 1", "StepFrame forward"}));
    // Space presses the focused button.
    commands_.calls.clear();
    QTest::keyClick(controls_->SpeedButton(), Qt::Key_Space);
    QCOMPARE(commands_.calls, QStringList({"SetSpeed 1"}));
  }

  void clickLeavesTheKeysWithThePlayerArea() {
    Playing();
    area_->activateWindow();
    area_->setFocus();
    QTRY_VERIFY(area_->hasFocus());
    QTest::mouseClick(controls_->MuteButton(), Qt::LeftButton);
    QTest::mouseClick(controls_->Seek(), Qt::LeftButton, {}, controls_->Seek()->rect().center());
    QVERIFY(area_->hasFocus());
  }

  void focusedSeekBarAnswersLeftAndRight() {
    Playing(60);
    state_->SetPosition(20);
    SeekBar* bar = controls_->Seek();
    bar->setFocus();
    QTRY_VERIFY(bar->hasFocus());
    commands_.calls.clear();
    QTest::keyClick(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_Left);
    // From where the handle went, not from where the engine last said.
    QCOMPARE(commands_.calls, QStringList({"SeekTo 25", "SeekTo 30", "SeekTo 25"}));
    // Up and Down are the volume's, as in the player area.
    commands_.calls.clear();
    state_->SetVolume(50);
    QTest::keyClick(bar, Qt::Key_Up);
    QCOMPARE(commands_.calls, QStringList({"SetVolume 55"}));
    // Never before the start.
    commands_.calls.clear();
    state_->SetPosition(2);
    QTest::keyClick(bar, Qt::Key_Left);
    QCOMPARE(commands_.calls, QStringList({"SeekTo 0"}));
    // Without a length the bar has no place to go: the player area seeks.
    state_->SetDuration(0);
    commands_.calls.clear();
    QTest::keyClick(bar, Qt::Key_Right);
    QCOMPARE(commands_.calls, QStringList({"SeekBy 5"}));
  }

  void controlsStayWhileTheyHaveTheFocusOrThePointer() {
    Playing();
    controls_->MuteButton()->setFocus();
    QTRY_VERIFY(controls_->MuteButton()->hasFocus());
    QVERIFY(overlay_->ControlsVisible());
    QTest::qWait(300);  // several hide delays
    QVERIFY(overlay_->ControlsVisible());
    area_->setFocus();
    QTRY_VERIFY(!overlay_->ControlsVisible());
    // Under the pointer.
    QTest::mouseMove(area_.get(), QPoint(100, 100));
    QTRY_VERIFY(overlay_->ControlsVisible());
    QTest::mouseMove(controls_->VolumeSlider());
    QTest::qWait(300);
    QVERIFY(overlay_->ControlsVisible());
  }

  // The accessibility tree: the bar is a group of named controls with the
  // roles a screen reader expects, and the seek bar is a slider whose value
  // is the position.
  void accessibilityTreeNamesRolesAndValues() {
    Playing(125);
    state_->SetPosition(65);
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(controls_);
    QVERIFY(bar);
    QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Playback controls"));
    QHash<QString, QAccessible::Role> seen;
    for (int i = 0; i < bar->childCount(); ++i) {
      QAccessibleInterface* child = bar->child(i);
      QVERIFY(child);
      QCOMPARE(child->parent()->object(), static_cast<QObject*>(controls_));
      QCOMPARE(bar->indexOfChild(child), i);
      seen.insert(child->text(QAccessible::Name), child->role());
    }
    QCOMPARE(seen.value("Pause"), QAccessible::Button);
    QCOMPARE(seen.value("Volume"), QAccessible::Slider);
    QCOMPARE(seen.value("Seek"), QAccessible::Slider);
    QCOMPARE(seen.value("Elapsed time and duration"), QAccessible::StaticText);
    QVERIFY(seen.contains("Mute"));
    // The speed is hidden at normal speed, and says so.
    QAccessibleInterface* speed = QAccessible::queryAccessibleInterface(controls_->SpeedButton());
    QCOMPARE(bar->indexOfChild(speed) >= 0, true);
    QVERIFY(speed->state().invisible);
    QVERIFY(!bar->child(0)->state().invisible);

    QAccessibleInterface* seek = QAccessible::queryAccessibleInterface(controls_->Seek());
    QAccessibleValueInterface* value = seek->valueInterface();
    QVERIFY(value);
    QCOMPARE(value->currentValue().toDouble(), 65.0);
    QCOMPARE(value->maximumValue().toDouble(), 125.0);
    QCOMPARE(value->minimumValue().toDouble(), 0.0);
    QCOMPARE(seek->text(QAccessible::Value), QStringLiteral("1:05 / 2:05"));
    // A value set by a screen reader seeks.
    commands_.calls.clear();
    value->setCurrentValue(100.0);
    QCOMPARE(commands_.calls, QStringList({"SeekTo 100"}));
    QCOMPARE(seek->state().focusable, true);
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
    state_->SetSpeed(2);
    const std::pair<QKeyCombination, const char*> cases[] = {
        {Qt::Key_Space, "TogglePause"},
        {Qt::Key_Right, "SeekBy 5"},
        {Qt::Key_Left, "SeekBy -5"},
        {Qt::Key_Home, "SeekTo 0"},
        {Qt::Key_Up, "SetVolume 55"},
        {Qt::Key_Down, "SetVolume 45"},
        {Qt::Key_M, "SetMuted 1"},
        {Qt::Key_Period, "StepFrame forward"},
        {Qt::Key_Comma, "StepFrame back"},
        {Qt::Key_BracketRight, "SetSpeed 2.2"},
        {Qt::Key_BracketLeft, "SetSpeed 1.82"},
        {Qt::Key_BraceRight, "SetSpeed 4"},
        {Qt::Key_BraceLeft, "SetSpeed 1"},
        {Qt::Key_Backspace, "SetSpeed 1"},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_C), "CopyPicture"},
    };
    for (const auto& [key, call] : cases) {
      commands_.calls.clear();
      QTest::keyClick(area_.get(), key.key(), key.keyboardModifiers());
      QCOMPARE(commands_.calls, QStringList({QLatin1String(call)}));
    }
    // Ten percent up and down again is exactly where it started.
    state_->SetSpeed(1);
    commands_.calls.clear();
    for (int i = 0; i < 3; ++i) {
      player_actions::Get(player_actions::Id::kFaster).run(commands_, *state_);
      state_->SetSpeed(commands_.calls.constLast().section(' ', 1).toDouble());
    }
    for (int i = 0; i < 3; ++i) {
      player_actions::Get(player_actions::Id::kSlower).run(commands_, *state_);
      state_->SetSpeed(commands_.calls.constLast().section(' ', 1).toDouble());
    }
    QCOMPARE(commands_.calls, QStringList({"SetSpeed 1.1", "SetSpeed 1.21", "SetSpeed 1.33",
                                           "SetSpeed 1.21", "SetSpeed 1.1", "SetSpeed 1"}));
    // The keypad's keys are the same keys; with a modifier they belong to the
    // window's menus.
    commands_.calls.clear();
    QTest::keyClick(area_.get(), Qt::Key_Right, Qt::KeypadModifier);
    QCOMPARE(commands_.calls, QStringList({"SeekBy 5"}));
    QTest::keyClick(area_.get(), Qt::Key_M, Qt::ControlModifier);
    QTest::keyClick(area_.get(), Qt::Key_Q);
    QCOMPARE(commands_.calls.size(), 1);
  }

  // "{", "}" and "?" take Shift on one keyboard and AltGr on another: the
  // character produced decides, whatever it took to produce it.
  void keysMatchTheCharacterProducedOnEveryLayout() {
    Playing();
    state_->SetSpeed(1);
    // US: Shift and the bracket key; German: AltGr (group switch) and 7/0.
    Press(area_.get(), Qt::Key_BraceRight, Qt::ShiftModifier, "}");
    Press(area_.get(), Qt::Key_BraceLeft, Qt::GroupSwitchModifier, "{");
    Press(area_.get(), Qt::Key_BraceLeft, Qt::ShiftModifier | Qt::KeypadModifier, "{");
    QCOMPARE(commands_.calls, QStringList({"SetSpeed 2", "SetSpeed 0.5", "SetSpeed 0.5"}));
    // US Shift+/, and a layout with "?" on a key of its own.
    Press(area_.get(), Qt::Key_Question, Qt::ShiftModifier, "?");
    QVERIFY(overlay_->Help()->isVisible());
    Press(area_.get(), Qt::Key_Question, Qt::NoModifier, "?");
    QVERIFY(!overlay_->Help()->isVisible());
    // Keys that type nothing keep their modifiers: Shift+Left is not Left,
    // and Ctrl+C is not C.
    commands_.calls.clear();
    Press(area_.get(), Qt::Key_Left, Qt::ShiftModifier, {});
    Press(area_.get(), Qt::Key_C, Qt::NoModifier, "c");
    Press(area_.get(), Qt::Key_Comma, Qt::ControlModifier, {});
    QVERIFY(commands_.calls.isEmpty());
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
        [&](bool on) { overlay_fixture::Ended(*state_, on); },
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
    overlay_fixture::Ended(*state_);
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

    // A caption: at the bottom, above where the control bar is, shown or not.
    const int barTop = 240 - controls_->sizeHint().height();
    const QRect aboveBar(0, barTop - 30, 320, 28);
    QCOMPARE(LightPixels(Painted(), aboveBar), 0);
    state_->SetCaption(QStringLiteral("<b>Hello</b> & goodbye"));
    QVERIFY(LightPixels(Painted(), aboveBar) > 50);
    QCOMPARE(LightPixels(Painted(), QRect(0, barTop, 320, 240 - barTop)), 0);
  }

  // The list of keys is written from the action table: every action, its
  // keys and its help, as plain text; "?", F1 and Esc hide it.
  void helpListsTheActionTableAndHides() {
    Playing();
    HelpView* help = overlay_->Help();
    QVERIFY(!help->isVisible());
    QTest::keyClick(area_.get(), Qt::Key_F1);
    QVERIFY(help->isVisible());
    QVERIFY(area_->rect().contains(help->geometry()));
    QStringList expected;
    for (const player_actions::Action& action : player_actions::All()) {
      expected << player_actions::KeyText(action) + u'\t' + action.help;
    }
    QCOMPARE(help->Text(), expected.join(u'\n'));
    QVERIFY(help->Text().contains(QStringLiteral(".\tOne frame forward, paused")));
    QVERIFY(help->Text().contains(QStringLiteral("Ctrl+C\t")));
    for (const QLabel* label : help->findChildren<QLabel*>()) {
      QCOMPARE(label->textFormat(), Qt::PlainText);
    }
    // It hides with its own keys and with Esc, and lets clicks through.
    QTest::mouseClick(area_.get(), Qt::LeftButton, {}, help->geometry().center());
    QCOMPARE(commands_.calls, QStringList({"TogglePause"}));
    QTest::keyClick(area_.get(), Qt::Key_Escape);
    QVERIFY(!help->isVisible());
    QTest::keyClick(area_.get(), Qt::Key_F1);
    QTest::keyClick(area_.get(), Qt::Key_F1);
    QVERIFY(!help->isVisible());
    // Esc is not the player's while the list is hidden.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(area_.get(), &escape);
    QVERIFY(!escape.isAccepted());
    // A movie that is not the player takes the list away.
    QTest::keyClick(area_.get(), Qt::Key_F1);
    movie::Movie still;
    overlay_->SetMovie(&still);
    QVERIFY(!help->isVisible());
  }

  void speedShowsWhileNotNormalAndPressedGoesBack() {
    Playing();
    QToolButton* speed = controls_->SpeedButton();
    QVERIFY(!speed->isVisible());
    state_->SetSpeed(1.5);
    QVERIFY(speed->isVisible());
    QCOMPARE(speed->text(), QStringLiteral("1.5\u00d7"));
    QCOMPARE(speed->accessibleName(), QStringLiteral("Speed 1.5\u00d7"));
    QCOMPARE(speed->toolTip(), QStringLiteral("Back to normal speed (Backspace)"));
    state_->SetSpeed(0.25);
    QCOMPARE(speed->text(), QStringLiteral("0.25\u00d7"));
    state_->SetSpeed(2);
    QCOMPARE(speed->text(), QStringLiteral("2\u00d7"));
    QTest::mouseClick(speed, Qt::LeftButton);
    QCOMPARE(commands_.calls, QStringList({"SetSpeed 1"}));
    state_->SetSpeed(1);
    QVERIFY(!speed->isVisible());
  }

  // Hovering the seek bar: the time under the pointer at once, a picture of
  // that moment when the source has one, each new moment asked for once.
  void seekBarPreviewShowsTheTimeAndThePicture() {
    RecordingPreview preview;
    overlay_->SetPreviewSource(&preview);
    Playing(80);
    SeekBar* bar = controls_->Seek();
    SeekPreviewPopup* popup = overlay_->SeekPreview();
    // The bar laid out at its shown width.
    QTRY_VERIFY(bar->isVisible() && bar->width() > 100);
    QCoreApplication::processEvents();
    const int quarter = 5 + (bar->width() - 10) / 4;
    QTest::mouseMove(bar, QPoint(quarter, bar->height() / 2));
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(popup->TimeText(), QStringLiteral("0:20"));
    QCOMPARE(preview.calls, QStringList({"Request 20"}));
    QVERIFY(popup->Picture().isNull());
    // Above the bar, over the pointer.
    const QRect shown = popup->geometry();
    const QPoint pointer = bar->mapTo(area_.get(), QPoint(quarter, 0));
    QVERIFY(shown.bottom() < pointer.y());
    QVERIFY(shown.left() <= pointer.x() && pointer.x() <= shown.right());

    QImage picture(160, 90, QImage::Format_RGB32);
    picture.fill(Qt::red);
    preview.Answer(20, picture);
    QCOMPARE(popup->Picture(), picture);
    QVERIFY(popup->height() > 90);
    // Moving on asks for the new moment; the last picture stays meanwhile.
    QTest::mouseMove(bar, QPoint(quarter * 2, bar->height() / 2));
    QTRY_COMPARE(preview.calls.size(), 2);
    QVERIFY(preview.calls[1].startsWith("Request "));
    QCOMPARE(popup->Picture(), picture);
    // Gone with the pointer, and nothing more is wanted.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(bar, &leave);
    QVERIFY(!popup->isVisible());
    QCOMPARE(preview.calls.constLast(), QStringLiteral("Cancel"));
    // A picture arriving late is not shown.
    preview.Answer(40, picture);
    QVERIFY(!popup->isVisible());

    // Without pictures for this file, the time alone.
    preview.available = false;
    preview.calls.clear();
    QTest::mouseMove(bar, QPoint(quarter, bar->height() / 2));
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(popup->TimeText(), QStringLiteral("0:20"));
    QVERIFY(preview.calls.isEmpty());
    // With no length there is no moment to show.
    state_->SetDuration(0);
    QVERIFY(!popup->isVisible());
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
