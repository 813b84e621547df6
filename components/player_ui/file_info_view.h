#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class PlaybackState;
class QAbstractButton;
class QLabel;
class QPlainTextEdit;

// What is known about the open file, over the picture in the player area:
// the playback state's file report, following it as it changes, or a line
// saying that nothing is known yet; above it, whole, the message saying why
// nothing plays while there is one (the player area may show it shortened).
// The text is plain, never read as markup; it can be selected with the
// mouse and the keyboard, Ctrl+C copies the selection and "Copy" all of it,
// both as plain text alone.
//
// A see-through panel in the movie's colours. Presses, double clicks and
// the wheel on it stay with it (on the picture a click would pause); keys
// it does not use go on to the player area. Opening gives the keyboard
// focus to the text; closing gives it back to the area if it was inside.
class FileInfoView : public QWidget {
  Q_OBJECT

 public:
  FileInfoView(const PlaybackState& state, QWidget& area);

  void SetColours(const QColor& band, const QColor& text);
  // Over the area less a margin, and less `bottom` pixels at its foot.
  void Place(int bottom);

  bool IsOpen() const { return isVisible(); }
  void SetOpen(bool open);

  QPlainTextEdit* Text() const { return text_; }
  QAbstractButton* CopyButton() const { return copy_; }
  QAbstractButton* CloseButton() const { return close_; }

 signals:
  void openChanged(bool open);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void Follow();
  QString Content() const;

  const PlaybackState& state_;
  QWidget& area_;
  QLabel* title_;
  QPlainTextEdit* text_;
  QAbstractButton* copy_;
  QAbstractButton* close_;
  // The report as last put into the text, to grow it in place.
  QString shown_;
  QColor band_ = Qt::black;
};
