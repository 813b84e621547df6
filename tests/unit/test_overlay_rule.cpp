// What is drawn over the picture follows one rule: on hand-set states, each
// pair once found drawn over each other now has places of its own, the
// centre holds one status read from the load status, the slots never
// overlap, and a message or a hover stays readable however long the address
// or however many the cue points.
#include <QAbstractButton>
#include <QHelpEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QToolTip>
#include <QtTest>
#include <memory>

#include "media/movie.h"
#include "player_model/playback_state.h"
#include "player_ui/cue_marks.h"
#include "player_ui/file_info_view.h"
#include "player_ui/message_text.h"
#include "player_ui/overlay_layers.h"
#include "player_ui/player_controls.h"
#include "player_ui/player_overlay.h"
#include "player_ui/seek_bar.h"
#include "player_ui/seek_preview_popup.h"
#include "support/overlay_fixture.h"
#include "support/recording_commands.h"

using overlay_fixture::LightPixels;
using overlay_layers::Centre;
using LoadState = PlaybackState::LoadState;

class TestOverlayRule : public QObject {
  Q_OBJECT

  std::unique_ptr<QWidget> area_;
  std::unique_ptr<PlaybackState> state_;
  RecordingCommands commands_;
  PlayerOverlay* overlay_ = nullptr;
  movie::Movie movie_ = overlay_fixture::PlayerMovie();

  QImage Painted() {
    QImage layer(area_->size(), QImage::Format_RGB32);
    layer.fill(Qt::black);
    QPainter painter(&layer);
    overlay_->Paint(painter);
    return layer;
  }

  // The pointer moving over the seek bar at `seconds`.
  void HoverAt(double seconds) {
    SeekBar* bar = overlay_->Controls()->Seek();
    const QPointF at(bar->XOf(seconds), bar->height() / 2.0);
    QMouseEvent move(QEvent::MouseMove, at, bar->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
  }

  // The widgets over the picture that show, pairwise apart and inside it.
  void ExpectApart() {
    QList<QWidget*> shown;
    for (QWidget* w : area_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (w->isVisible()) shown << w;
    }
    for (qsizetype i = 0; i < shown.size(); ++i) {
      QVERIFY2(area_->rect().contains(shown[i]->geometry()), qPrintable(shown[i]->objectName()));
      for (qsizetype j = i + 1; j < shown.size(); ++j) {
        QVERIFY2(!shown[i]->geometry().intersects(shown[j]->geometry()),
                 qPrintable(shown[i]->objectName() + " over " + shown[j]->objectName()));
      }
    }
  }

 private slots:
  void init() {
    area_ = std::make_unique<QWidget>();
    area_->resize(480, 320);
    state_ = std::make_unique<PlaybackState>();
    overlay_ = new PlayerOverlay(*area_, *state_, commands_);
    overlay_->SetHideDelay(60000);
    overlay_->SetMovie(&movie_);
    area_->show();
    QVERIFY(QTest::qWaitForWindowExposed(area_.get()));
  }

  void cleanup() {
    area_.reset();
    state_.reset();
  }

  void centreHoldsOneStatusFromTheLoadStatus_data() {
    QTest::addColumn<int>("load");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("audioOnly");
    QTest::addColumn<bool>("buffering");
    QTest::addColumn<int>("centre");
    QTest::addColumn<bool>("replay");
    QTest::addColumn<bool>("controls");
    const auto row = [](const char* name, LoadState load, const char* message, bool audio,
                        bool buffering, Centre centre, bool replay, bool controls) {
      QTest::newRow(name) << int(load) << QString(message) << audio << buffering << int(centre)
                          << replay << controls;
    };
    row("ended", LoadState::kEnded, "", false, false, Centre::kReplay, true, true);
    // The replay button is the audio-only screen's icon.
    row("sound only, ended", LoadState::kEnded, "", true, false, Centre::kAudioOnly, true, true);
    row("sound only, waiting", LoadState::kPlaying, "", true, true, Centre::kBuffering, false,
        true);
    // A file that ended with nothing to show, then was refused.
    row("failed at its end", LoadState::kFailed, "Cannot play \"a\": b.", false, false,
        Centre::kMessage, false, false);
    // The next file opening: the one before is no longer open.
    row("next file opening", LoadState::kOpening, "", true, false, Centre::kNothing, false, false);
  }

  void centreHoldsOneStatusFromTheLoadStatus() {
    QFETCH(int, load);
    QFETCH(QString, message);
    QFETCH(bool, audioOnly);
    QFETCH(bool, buffering);
    // What the engine says of the file before: only the load status counts.
    state_->SetHasFile(true);
    state_->SetEndReached(true);
    state_->SetAudioOnly(audioOnly);
    state_->SetBuffering(buffering, 10);
    state_->SetMessage(message);
    state_->SetLoadState(LoadState(load));
    const overlay_layers::Plan plan = overlay_->Shown();
    QTEST(int(plan.centre), "centre");
    QTEST(plan.replay, "replay");
    QTEST(overlay_->ReplayVisible(), "replay");
    QTEST(overlay_->ControlsVisible(), "controls");
    ExpectApart();
    // A view covers the slots: none of them is drawn.
    QTest::keyClick(area_.get(), Qt::Key_F1);
    QCOMPARE(int(overlay_->Shown().centre), int(Centre::kNothing));
    QVERIFY(!overlay_->ReplayVisible());
    QCOMPARE(LightPixels(Painted(), area_->rect()), 0);
  }

  void slotsNeverOverlapAndStayInside() {
    for (const QSize size : {QSize(480, 320), QSize(200, 90), QSize(30, 20), QSize(0, 0)}) {
      const QRect area(QPoint(0, 0), size);
      for (const int tall : {20, 400}) {
        const overlay_layers::Slots s = overlay_layers::Arrange(area, 30, tall, tall, tall);
        const QList<QRect> all{s.notice, s.centre, s.caption, s.bar};
        for (qsizetype i = 0; i < all.size(); ++i) {
          QVERIFY(all[i].isEmpty() || area.contains(all[i]));
          for (qsizetype j = i + 1; j < all.size(); ++j) QVERIFY(!all[i].intersects(all[j]));
        }
      }
    }
    // Unhindered, the centre keeps to the middle; a tall notice pushes it down.
    const QRect area(0, 0, 480, 320);
    const QRect alone = overlay_layers::Arrange(area, 30, 0, 60, 0).centre;
    const QRect room = area.adjusted(8, 8, -8, -8 - 30);
    QCOMPARE(alone.center().y(), room.center().y());
    const overlay_layers::Slots pushed = overlay_layers::Arrange(area, 30, 100, 60, 0);
    QVERIFY(pushed.centre.top() > pushed.notice.bottom());
    QCOMPARE(pushed.centre.height(), 60);
  }

  // "0:03 three" under the preview's own "0:03", and the bar's tooltip with
  // them: one tip names the time and the cue points, and no other shows.
  void seekBarHoverShowsOneTipWithTheCueNames() {
    overlay_fixture::Playing(*state_, 4.166);
    state_->SetCuePoints({{1, "one"}, {2, "two"}, {3, "three"}});
    SeekBar* bar = overlay_->Controls()->Seek();
    SeekPreviewPopup* tip = overlay_->SeekPreview();
    HoverAt(3);
    QVERIFY(tip->isVisible());
    QCOMPARE(tip->TimeText(), QStringLiteral("0:03"));
    QCOMPARE(tip->CueLines(), QStringList({"0:03 three"}));
    ExpectApart();
    QHelpEvent help(QEvent::ToolTip, bar->rect().center(), bar->mapToGlobal(bar->rect().center()));
    QApplication::sendEvent(bar, &help);
    QVERIFY(!QToolTip::isVisible());
    // Without a length there is no tip of its own: the bar's tooltip shows.
    state_->SetDuration(0);
    QVERIFY(!tip->isVisible());
    QApplication::sendEvent(bar, &help);
    QVERIFY(QToolTip::isVisible());
    QToolTip::hideText();
  }

  void cuePointsByTheHundredThousandAreCounted() {
    overlay_fixture::Playing(*state_, 60);
    stream_facts::CuePoints cues;
    for (int i = 0; i < 200000; ++i) cues.append({i < 100000 ? 3.0 : 6.0 + i * 1e-4, "c"});
    state_->SetCuePoints(cues);
    HoverAt(3);
    const QStringList lines = overlay_->SeekPreview()->CueLines();
    QCOMPARE(lines.size(), CueMarks::kMostNamed + 1);
    QCOMPARE(lines.constLast(), QStringLiteral("and 99995 more"));
    QVERIFY(overlay_->SeekPreview()->height() < area_->height());
    // A tick per pixel column at most.
    QVERIFY(overlay_->Cues()->TickXs().size() <= overlay_->Controls()->Seek()->width());
  }

  // The replay button at the end of a sound-only file stands where its note
  // was, above the words, not over them.
  void replayTakesTheAudioOnlyIconsPlace() {
    overlay_fixture::Playing(*state_, 8);
    state_->SetTitle(QStringLiteral("song.flv"), QStringLiteral("file:///song.flv"));
    state_->SetAudioOnly(true);
    const QRect note = overlay_->Slots().centre;
    QVERIFY(LightPixels(Painted(), note) > 50);
    overlay_fixture::Ended(*state_);
    const QRect replay = overlay_->ReplayButton()->geometry();
    QVERIFY(overlay_->ReplayVisible() && note.contains(replay));
    const QImage painted = Painted();
    QCOMPARE(LightPixels(painted, replay), 0);
    QVERIFY(LightPixels(painted, QRect(0, replay.bottom() + 1, 480, 40)) > 50);
  }

  // "Picture copied..." over the information's header, a message through
  // it: the view covers what is below; the notice waits for it to close.
  void noticesAndMessagesWaitUnderTheInformation() {
    overlay_fixture::Playing(*state_, 8);
    QTest::keyClick(area_.get(), Qt::Key_I);
    state_->AnnouncePictureCopied(QSize(320, 240));
    QVERIFY(!overlay_->Notice().isEmpty());
    QCOMPARE(LightPixels(Painted(), area_->rect()), 0);
    QTest::keyClick(area_.get(), Qt::Key_Escape);
    QVERIFY(LightPixels(Painted(), overlay_->Slots().notice) > 50);

    state_->SetMessage(QStringLiteral("Cannot play \"x.flv\": it is damaged."));
    state_->SetLoadState(LoadState::kFailed);
    QTest::keyClick(area_.get(), Qt::Key_I);
    QCOMPARE(LightPixels(Painted(), area_->rect()), 0);
    QVERIFY(overlay_->FileInfo()->Text()->toPlainText().startsWith(state_->message()));
  }

  // An address of 30,000 characters: its start and end show, the reason
  // whole, in a part of the area; the information holds all of it.
  void longAddressIsShortenedAndTheReasonKept() {
    const QString address = "http://h/" + QString(30000, u'a') + "\x01" + "end.flv";
    const QString message = "Cannot play \"" + address + "\": only the rtmp family is played.";
    state_->SetMessage(message);
    state_->SetLoadState(LoadState::kFailed);
    const QString shown = overlay_->MessageText();
    QVERIFY2(shown.startsWith("Cannot play \"http://h/aaa") &&
                 shown.endsWith(u"\u2401end.flv\": only the rtmp family is played.") &&
                 shown.contains(u'\u2026') && shown.size() < 300,
             qPrintable(shown));
    QVERIFY(overlay_->Slots().centre.height() < area_->height() / 2);
    QVERIFY(LightPixels(Painted(), overlay_->Slots().centre) > 50);
    QTest::keyClick(area_.get(), Qt::Key_I);
    QVERIFY(overlay_->FileInfo()->Text()->toPlainText().startsWith(message));

    // The last quote before the reason ends the address; a character of two
    // halves is never split.
    const QFontMetricsF metrics(area_->font());
    const QString tricky = "Cannot play \"a\": b" + QString(3000, u'x') + "\": why.";
    QVERIFY(message_text::Fit(tricky, metrics, 200).endsWith("\": why."));
    const QString emoji = QString::fromUtf8("\xf0\x9f\x8e\xac").repeated(5000);
    const QString fitted = message_text::Fit("Cannot play \"" + emoji + "\": why.", metrics, 200);
    for (qsizetype i = 0; i < fitted.size(); ++i) {
      QVERIFY(!fitted[i].isHighSurrogate() || fitted[i + 1].isLowSurrogate());
      QVERIFY(!fitted[i].isLowSurrogate() || (i > 0 && fitted[i - 1].isHighSurrogate()));
    }
    QCOMPARE(message_text::Fit(QStringLiteral("No quotes: here."), metrics, 10),
             QStringLiteral("No quotes: here."));
  }
};

QTEST_MAIN(TestOverlayRule)
#include "test_overlay_rule.moc"
