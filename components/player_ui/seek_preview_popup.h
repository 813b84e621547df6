#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

class PreviewSource;
class SeekBar;

// What the seek bar shows above the pointer while it hovers: the time under
// the pointer at once, and a small picture of that moment once the player's
// preview source has one (the newest picture stays until the next arrives).
// It sits in the player area just above the bar and takes no input.
class SeekPreviewPopup : public QWidget {
  Q_OBJECT

 public:
  SeekPreviewPopup(SeekBar& bar, QWidget* area);

  // Where pictures come from; null: the time alone.
  void SetSource(PreviewSource* source);
  void SetColours(const QColor& band, const QColor& text);

  QString TimeText() const { return time_; }
  const QImage& Picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void ShowAt(double seconds);
  void End();
  void Place();

  SeekBar& bar_;
  QPointer<PreviewSource> source_;
  double at_ = 0;
  QString time_;
  QImage picture_;
  QColor band_ = Qt::black;
  QColor text_ = Qt::white;
};
