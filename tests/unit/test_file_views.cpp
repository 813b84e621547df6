// What the player area tells about the file, on a playback state set by
// hand: the information view (keys, button, plain text, copying, following a
// growing report), the cue point ticks and names on the seek bar, and the
// keys that jump between cue points.
#include <QAccessible>
#include <QClipboard>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QtTest>
#include <cmath>
#include <memory>

#include "media/movie.h"
#include "player_model/playback_state.h"
#include "player_ui/cue_marks.h"
#include "player_ui/file_info_view.h"
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

using stream_facts::CuePoint;
using stream_facts::CuePoints;

const QString kReport = QStringLiteral(
    "Container: FLV 1, audio and video\n"
    "Video: VP6, 800x600, 12 fps\n"
    "Claims: duration 4.166 s <b>not bold</b> &amp; <i>\n"
    "Problems: a tag cut short at 0:04 (offset 20600)\n");

}  // namespace

class TestFileViews : public QObject {
  Q_OBJECT

  std::unique_ptr<QWidget> area_;
  std::unique_ptr<PlaybackState> state_;
  RecordingCommands commands_;
  PlayerOverlay* overlay_ = nullptr;
  FileInfoView* info_ = nullptr;
  movie::Movie movie_ = PlayerMovie();

  void Playing(double duration = 8) { overlay_fixture::Playing(*state_, duration); }

  QPlainTextEdit* Text() const { return info_->Text(); }
  QToolButton* InfoButton() const { return overlay_->Controls()->InfoButton(); }
  SeekBar* Bar() const { return overlay_->Controls()->Seek(); }

  // Where the bar puts `seconds` of `duration`: the handle's radius (5)
  // trims each end of the track.
  qreal ExpectedX(double seconds, double duration) const {
    return 5 + (Bar()->width() - 10) * seconds / duration;
  }

  // The pointer moving over the bar with no button held.
  void Hover(qreal x) {
    const QPointF at(x, Bar()->height() / 2.0);
    QMouseEvent move(QEvent::MouseMove, at, Bar()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(Bar(), &move);
  }

  // Light pixels in the bar's column `x`, just above the track, where only
  // a tick draws (the handle is kept at the start).
  int TickPixels(qreal x) {
    const QImage shot = area_->grab().toImage();
    const QPoint at = Bar()->mapTo(area_.get(), QPoint(qRound(x), Bar()->height() / 2));
    return LightPixels(shot, QRect(at.x() - 1, at.y() - 6, 3, 3));
  }

  void SetBackground(const QColor& colour) {
    QPalette picture = area_->palette();
    picture.setColor(QPalette::Window, colour);
    area_->setPalette(picture);
  }

 private slots:
  void init() {
    area_ = std::make_unique<QWidget>();
    area_->resize(480, 320);
    // The picture under it all: black, as the player movie's stage.
    area_->setAutoFillBackground(true);
    SetBackground(Qt::black);
    state_ = std::make_unique<PlaybackState>();
    commands_.calls.clear();
    overlay_ = new PlayerOverlay(*area_, *state_, commands_);
    overlay_->SetHideDelay(60000);
    info_ = overlay_->FileInfo();
    overlay_->SetMovie(&movie_);
    area_->show();
    area_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(area_.get()));
    area_->setFocus();
  }

  void cleanup() {
    area_.reset();
    state_.reset();
  }

  void infoOpensAndClosesByKeyButtonAndEsc() {
    Playing();
    // Closed, Esc means nothing to the player.
    QTest::keyClick(area_.get(), Qt::Key_Escape);
    QVERIFY(!info_->IsOpen());

    QTest::keyClick(area_.get(), Qt::Key_I);
    QVERIFY(info_->IsOpen() && info_->isVisible());
    QVERIFY(InfoButton()->isChecked());
    // The text has the keyboard at once, for selecting.
    QVERIFY(Text()->hasFocus());
    // From inside the view, "i" closes it and the area gets the keys back.
    QTest::keyClick(Text(), Qt::Key_I);
    QVERIFY(!info_->IsOpen());
    QVERIFY(!InfoButton()->isChecked());
    QVERIFY(area_->hasFocus());

    QTest::mouseClick(InfoButton(), Qt::LeftButton);
    QVERIFY(info_->IsOpen() && InfoButton()->isChecked());
    QTest::keyClick(Text(), Qt::Key_Escape);
    QVERIFY(!info_->IsOpen());

    QTest::keyClick(area_.get(), Qt::Key_I);
    QTest::mouseClick(info_->CloseButton(), Qt::LeftButton);
    QVERIFY(!info_->IsOpen() && !InfoButton()->isChecked());

    // With the focus on the area, Esc closes it too.
    QTest::keyClick(area_.get(), Qt::Key_I);
    area_->setFocus();
    QTest::keyClick(area_.get(), Qt::Key_Escape);
    QVERIFY(!info_->IsOpen());
    // None of it asked anything of the player.
    QVERIFY2(commands_.calls.isEmpty(), qPrintable(commands_.calls.join(", ")));

    // Another movie takes it away.
    QTest::keyClick(area_.get(), Qt::Key_I);
    overlay_->SetMovie(nullptr);
    QVERIFY(!info_->IsOpen());
  }

  void keysTheViewDoesNotUseReachThePlayer() {
    Playing();
    state_->SetFileReport(kReport);
    QTest::keyClick(area_.get(), Qt::Key_I);
    QVERIFY(Text()->hasFocus());
    QTest::keyClick(Text(), Qt::Key_M);
    QCOMPARE(commands_.calls, QStringList({"SetMuted 1"}));
    // Presses and the wheel on the panel are the panel's: on the picture a
    // press would pause and the wheel change the volume.
    commands_.calls.clear();
    QTest::mouseClick(info_, Qt::LeftButton, {}, QPoint(info_->width() / 3, 6));
    QWheelEvent wheel(QPointF(20, 20), info_->mapToGlobal(QPointF(20, 20)), {}, QPoint(0, -120),
                      Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(info_, &wheel);
    QVERIFY2(commands_.calls.isEmpty(), qPrintable(commands_.calls.join(", ")));
  }

  void infoShowsTheReportAsPlainTextAndFollowsIt() {
    QTest::keyClick(area_.get(), Qt::Key_I);
    // Nothing known yet: it says so, and there is nothing to copy.
    QVERIFY(Text()->toPlainText().isEmpty());
    QCOMPARE(Text()->placeholderText(), QStringLiteral("Nothing is known about this file yet."));
    QVERIFY(!info_->CopyButton()->isEnabled());

    // Markup in the report shows as written.
    state_->SetFileReport(kReport);
    QCOMPARE(Text()->toPlainText(), kReport);
    QVERIFY(info_->CopyButton()->isEnabled());

    // A report that grows keeps what the reader has selected.
    QTextCursor selection = Text()->textCursor();
    selection.setPosition(0);
    selection.setPosition(9, QTextCursor::KeepAnchor);
    Text()->setTextCursor(selection);
    const QString grown = kReport + QStringLiteral("Problems: garbage between tags at 0:05\n");
    state_->SetFileReport(grown);
    QCOMPARE(Text()->toPlainText(), grown);
    QCOMPARE(Text()->textCursor().selectedText(), QStringLiteral("Container"));

    // Another file's report replaces it.
    state_->SetFileReport(QStringLiteral("Container: FLV\n"));
    QCOMPARE(Text()->toPlainText(), QStringLiteral("Container: FLV\n"));
    state_->SetFileReport({});
    QVERIFY(Text()->toPlainText().isEmpty());

    // Closed, it catches up when opened again.
    QTest::keyClick(Text(), Qt::Key_Escape);
    state_->SetFileReport(grown);
    QTest::keyClick(area_.get(), Qt::Key_I);
    QCOMPARE(Text()->toPlainText(), grown);
  }

  void infoIsReadableOverALightPicture() {
    // The whitest picture there is under the panel.
    SetBackground(Qt::white);
    state_->SetFileReport(kReport);
    QTest::keyClick(area_.get(), Qt::Key_I);
    const QImage shot = area_->grab().toImage();
    const QRect panel = info_->geometry();
    QVERIFY(panel.width() > 200 && panel.height() > 100);
    QVERIFY(area_->rect().contains(panel));
    // Mostly dark, with light text on it.
    const QRect body = Text()->geometry().translated(panel.topLeft());
    const int light = LightPixels(shot, body);
    const int all = body.width() * body.height();
    QVERIFY2(light > 50 && light < all / 4,
             qPrintable(QStringLiteral("%1 of %2").arg(light).arg(all)));
  }

  void copyGivesExactlyTheReportAsPlainText() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    state_->SetFileReport(kReport);
    QTest::keyClick(area_.get(), Qt::Key_I);

    clipboard->clear();
    QTest::mouseClick(info_->CopyButton(), Qt::LeftButton);
    QCOMPARE(clipboard->text(), kReport);
    QCOMPARE(clipboard->mimeData()->formats(), QStringList({"text/plain"}));

    // Ctrl+C copies the selection made with the keyboard, as text alone.
    clipboard->clear();
    Text()->setFocus();
    Text()->moveCursor(QTextCursor::Start);
    QTest::keyClick(Text(), Qt::Key_Down);
    QTest::keyClick(Text(), Qt::Key_End, Qt::ShiftModifier);
    QTest::keyClick(Text(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("Video: VP6, 800x600, 12 fps"));
    QCOMPARE(clipboard->mimeData()->formats(), QStringList({"text/plain"}));

    QTest::keyClick(Text(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Text(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), kReport);
    // Ctrl+C inside the view is the view's alone.
    QVERIFY2(commands_.calls.isEmpty(), qPrintable(commands_.calls.join(", ")));
  }

  void infoControlsAreNamedFromTheActionTable() {
    const player_actions::Action& action = player_actions::Get(player_actions::Id::kFileInfo);
    QCOMPARE(action.keys, QList<QKeyCombination>({Qt::Key_I}));
    QCOMPARE(InfoButton()->toolTip(), QStringLiteral("%1 (I)").arg(action.name));
    QCOMPARE(InfoButton()->accessibleName(), action.name);
    QCOMPARE(info_->CloseButton()->toolTip(), QStringLiteral("Close (I)"));
    QTest::keyClick(area_.get(), Qt::Key_I);
    const QList<QWidget*> named{info_, Text(), info_->CopyButton(), info_->CloseButton(),
                                InfoButton()};
    for (QWidget* w : named) {
      QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(w);
      QVERIFY(a11y);
      QVERIFY2(!a11y->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
      QVERIFY2(!w->toolTip().isEmpty() || w == info_ || w == Text(), qPrintable(w->objectName()));
    }
  }

  void cueTicksSitAtTheirTimesWhileTheLengthIsKnown() {
    // Unknown length: no ticks.
    state_->SetCuePoints({{2, "a"}, {6, "b"}});
    Playing(0);
    QVERIFY(overlay_->ControlsVisible());
    QVERIFY(overlay_->Cues()->TickXs().isEmpty());
    QCOMPARE(TickPixels(ExpectedX(2, 8)), 0);

    // Given out of order, with a time that is no number.
    state_->SetCuePoints({{6, "b"}, {std::nan(""), "x"}, {2, "a"}});
    state_->SetDuration(8);
    const QList<qreal> xs = overlay_->Cues()->TickXs();
    QCOMPARE(xs.size(), 2);
    QVERIFY(std::abs(xs[0] - ExpectedX(2, 8)) < 0.5 && std::abs(xs[1] - ExpectedX(6, 8)) < 0.5);
    QVERIFY(TickPixels(ExpectedX(2, 8)) > 0);
    QVERIFY(TickPixels(ExpectedX(6, 8)) > 0);
    QCOMPARE(TickPixels(ExpectedX(4, 8)), 0);

    // A new length moves them.
    state_->SetDuration(16);
    QVERIFY(TickPixels(ExpectedX(6, 16)) > 0);
    QCOMPARE(TickPixels(ExpectedX(6, 8)), 0);
    state_->SetCuePoints({});
    QCOMPARE(TickPixels(ExpectedX(6, 16)), 0);
  }

  void hoverShowsTheNamesOfTheCuesInReach() {
    Playing(100);
    state_->SetCuePoints({{20, "<b>Intro</b>"}, {20.5, "Verse"}, {70, ""}});
    SeekPreviewPopup* tip = overlay_->SeekPreview();
    Hover(ExpectedX(20.25, 100));
    QVERIFY(tip->isVisible());
    QCOMPARE(tip->CueLines(), QStringList({"0:20 <b>Intro</b>", "0:20 Verse"}));
    // Above the bar, inside the player area.
    const QRect bar(Bar()->mapTo(area_.get(), QPoint(0, 0)), Bar()->size());
    QVERIFY(tip->geometry().bottom() < bar.top());
    QVERIFY(area_->rect().contains(tip->geometry()));

    Hover(ExpectedX(70, 100) + 3);
    QCOMPARE(tip->CueLines(), QStringList({"1:10"}));
    Hover(ExpectedX(45, 100));
    QVERIFY(tip->CueLines().isEmpty());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(Bar(), &leave);
    QVERIFY(!tip->isVisible());
    // Hovering asks nothing of the player.
    QVERIFY2(commands_.calls.isEmpty(), qPrintable(commands_.calls.join(", ")));
  }

  void cueKeysJumpRelativeToThePosition_data() {
    QTest::addColumn<double>("position");
    QTest::addColumn<QString>("previous");
    QTest::addColumn<QString>("next");
    QTest::newRow("before the first") << 3.0 << ""
                                      << "SeekTo 10";
    QTest::newRow("between") << 15.0 << "SeekTo 10"
                             << "SeekTo 20";
    QTest::newRow("within a second after a cue") << 20.6 << "SeekTo 10"
                                                 << "SeekTo 30";
    QTest::newRow("a second after a cue") << 21.0 << "SeekTo 20"
                                          << "SeekTo 30";
    QTest::newRow("landed a hair before a cue") << 19.96 << "SeekTo 10"
                                                << "SeekTo 30";
    QTest::newRow("within a second after the first") << 10.4 << ""
                                                     << "SeekTo 20";
    // The one before is less than a second before: still the one before.
    QTest::newRow("cues close together") << 40.7 << "SeekTo 40"
                                         << "";
    QTest::newRow("after the last") << 45.0 << "SeekTo 40.5"
                                    << "";
  }

  void cueKeysJumpRelativeToThePosition() {
    QFETCH(double, position);
    QFETCH(QString, previous);
    QFETCH(QString, next);
    Playing(60);
    state_->SetCuePoints(
        {{30, "c"}, {10, "a"}, {40.5, "e"}, {std::nan(""), "x"}, {20, "b"}, {40, "d"}});
    state_->SetPosition(position);
    QTest::keyClick(area_.get(), Qt::Key_PageUp);
    QCOMPARE(commands_.calls, previous.isEmpty() ? QStringList() : QStringList({previous}));
    commands_.calls.clear();
    QTest::keyClick(area_.get(), Qt::Key_PageDown);
    QCOMPARE(commands_.calls, next.isEmpty() ? QStringList() : QStringList({next}));
  }

  void cueKeysDoNothingWithoutCues() {
    Playing(60);
    state_->SetPosition(30);
    QTest::keyClick(area_.get(), Qt::Key_PageUp);
    QTest::keyClick(area_.get(), Qt::Key_PageDown);
    QVERIFY2(commands_.calls.isEmpty(), qPrintable(commands_.calls.join(", ")));
  }
};

QTEST_MAIN(TestFileViews)
#include "test_file_views.moc"
