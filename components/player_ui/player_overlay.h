#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "player_ui/message_text.h"
#include "player_ui/overlay_layers.h"
#include "player_ui/overlay_paint.h"

class CueMarks;
class FileInfoView;
class HelpView;
class PlaybackState;
class PlayerCommands;
class PlayerControls;
class PlayerInput;
class PreviewSource;
class QPainter;
class QAbstractButton;
class RoundButton;
class SeekPreviewPopup;
namespace movie {
struct Movie;
}

// Everything the player movie draws over the video, and when: the control
// bar, the replay button at the end, the buffering indicator, notices about
// streams that cannot be decoded and pictures copied, the audio-only screen,
// the file's cue points on the seek bar, the seek bar's preview, and two
// views of which one shows at a time: the file's information ("i" or the
// bar's button) and the list of keys ("?" or F1); their key or Esc hides
// them, and Esc means nothing else. Under any movie, the message saying
// why nothing plays. Owned by the player area, which hands it each movie
// and lets it paint after the picture.
//
// Promises:
// - What shows, and where, follows one rule (player_ui/overlay_layers.h):
//   no two texts or icons share a place, and all of it stays inside the
//   player area.
// - Only a player movie shows more than the message; its "controls" key can
//   turn off the bar and the replay button (the other indicators stay).
// - The bar hides after a delay (kHideDelayMs unless set otherwise) without
//   mouse or key activity while a
//   video plays, and stays up while paused, at the end, while buffering, for
//   audio-only files, while the mouse is on it and while one of its controls
//   has the keyboard focus. Hidden, it costs nothing per frame; no timer
//   runs unless a hide or a notice is pending.
class PlayerOverlay : public QObject {
  Q_OBJECT

 public:
  static constexpr int kHideDelayMs = 2500;
  static constexpr int kNoticeMs = 5000;

  // Draws over `area` and answers its input; `area` is the player widget.
  PlayerOverlay(QWidget& area, const PlaybackState& state, PlayerCommands& commands);
  ~PlayerOverlay() override;

  // How long the bar waits before it hides; tests shorten it.
  void SetHideDelay(int ms) { hideTimer_.setInterval(ms); }

  // The movie now in the player area; null while none is loaded.
  void SetMovie(const movie::Movie* movie);
  // Where the seek bar's preview pictures come from; null: the time alone.
  void SetPreviewSource(PreviewSource* source);
  // Paints the indicators over the picture.
  void Paint(QPainter& painter) const;

  bool ControlsVisible() const;
  bool ReplayVisible() const;
  // The notice waiting to be seen (shown unless a view covers it); empty
  // when none.
  QString Notice() const { return notice_; }
  // The indicator text while the player waits for data; empty otherwise.
  QString BufferingText() const;
  // What shows now and where, by the rule.
  overlay_layers::Plan Shown() const;
  overlay_layers::Slots Slots() const;
  // The message as it reads in the player area: a long address shortened.
  QString MessageText() const;

  PlayerControls* Controls() const { return controls_; }
  QAbstractButton* ReplayButton() const;
  FileInfoView* FileInfo() const { return fileInfo_; }
  CueMarks* Cues() const { return cueMarks_; }
  HelpView* Help() const { return help_; }
  SeekPreviewPopup* SeekPreview() const { return seekPreview_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // What the rule gives for the state now, with the texts laid out.
  struct Arrangement {
    overlay_layers::Plan plan;
    overlay_layers::Slots where;
    std::unique_ptr<overlay_paint::Wrapped> notice;
    std::unique_ptr<overlay_paint::Wrapped> centre;
    std::unique_ptr<overlay_paint::Wrapped> caption;
    overlay_paint::AudioOnly audioOnly;
    QRect replay;
  };

  void Reveal();
  void OnStateChanged();
  bool MayHide() const;
  bool ControlsHaveFocus() const;
  void ShowHelp(bool show);
  void Apply();
  void Layout();
  void ShowNotice(const QString& text);
  overlay_layers::Overlay Facts() const;
  void Arrange(Arrangement& arrangement) const;
  int BarHeight() const;
  int MessageWidth() const;

  QWidget& area_;
  const PlaybackState& state_;
  PlayerCommands& commands_;
  PlayerInput* input_;
  PlayerControls* controls_;
  RoundButton* replay_;
  FileInfoView* fileInfo_;
  CueMarks* cueMarks_;
  HelpView* help_;
  SeekPreviewPopup* seekPreview_;
  QTimer hideTimer_;
  QTimer noticeTimer_;
  bool playerMovie_ = false;
  bool showControls_ = false;  // the movie's own choice
  bool revealed_ = true;       // not hidden for idleness
  QString notice_;
  QColor text_ = Qt::white;
  QColor band_ = Qt::black;
  QColor messageColour_ = Qt::black;  // the movie's text, whatever movie
  mutable message_text::Fitted message_;
};
