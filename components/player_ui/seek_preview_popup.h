#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

class CueMarks;
class PreviewSource;
class SeekBar;

// The seek bar's one tip while the pointer hovers it: the time under the
// pointer at once, the cue points near it by name, and a small picture of
// that moment once the player's preview source has one (the newest picture
// stays until the next arrives). An opaque box just above the bar, inside
// the player area (a picture too large for the room is shown smaller),
// that takes no input; while it shows, no other tooltip does.
class SeekPreviewPopup : public QWidget {
  Q_OBJECT

 public:
  SeekPreviewPopup(SeekBar& bar, QWidget* area);

  // Where pictures come from; null: the time alone.
  void SetSource(PreviewSource* source);
  // Whose cue points are named; null: none.
  void SetCues(const CueMarks* cues);
  void SetColours(const QColor& band, const QColor& text);

  QString TimeText() const { return time_; }
  // The cue points named under the time, a line each.
  const QStringList& CueLines() const { return cueLines_; }
  const QImage& Picture() const { return picture_; }
  // The picture's size as shown; empty without one.
  QSize PictureShown() const { return pictureShown_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void ShowAt(double seconds);
  void End();
  void Place();

  SeekBar& bar_;
  QPointer<PreviewSource> source_;
  QPointer<const CueMarks> cues_;
  double at_ = 0;
  QString time_;
  QStringList cueLines_;
  QImage picture_;
  QSize pictureShown_;
  QColor band_ = Qt::black;
  QColor text_ = Qt::white;
};
