#pragma once

#include <QColor>
#include <QList>
#include <QWidget>
#include <utility>

// The seek bar of the player's controls: how far the file has played, which
// stretches of it are buffered (for network addresses), and a handle the
// user clicks or drags to jump. Tab gives it the keyboard focus (a click
// does not), and then Left and Right seek; other keys go on to the player
// area. To assistive technology it is a slider whose value is the position
// in seconds.
//
// Promises: with an unknown duration (live streams, files without an index)
// it shows an empty track and asks for no seek; while the user drags, the
// handle follows the mouse rather than the reported position. Position
// reports that would not move the handle by a pixel repaint nothing. While
// the pointer is over a track of known length, hovered says which moment
// lies under it, once for each new moment, and the bar's tooltip keeps
// quiet: whoever answers hovered shows the one tip.
class SeekBar : public QWidget {
  Q_OBJECT

 public:
  using Range = std::pair<double, double>;  // start and end, in seconds

  explicit SeekBar(QWidget* parent = nullptr);

  // 0 or less: unknown.
  void SetDuration(double seconds);
  void SetPosition(double seconds);
  void SetBuffered(const QList<Range>& ranges);
  void SetColours(const QColor& track, const QColor& accent);

  double Duration() const { return duration_; }
  // Where the handle is: the dragged-to point while dragging.
  double ShownPosition() const { return dragging_ ? dragPosition_ : position_; }
  const QList<Range>& Buffered() const { return buffered_; }
  // Asks for a seek to `seconds`, as a click there would.
  void RequestSeek(double seconds);
  // Where `seconds` lies along the bar, in its own coordinates.
  qreal XOf(double seconds) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // The user picked a point of the file, in seconds.
  void seekRequested(double seconds);
  // The pointer is over the moment `seconds`; hoverEnded when it has gone.
  void hovered(double seconds);
  void hoverEnded();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QRectF Track() const;
  double TimeAt(qreal x) const;
  void Hover(qreal x);

  double duration_ = 0;
  double position_ = 0;
  QList<Range> buffered_;
  QColor track_ = QColor(255, 255, 255, 80);
  QColor accent_ = Qt::white;
  bool dragging_ = false;
  double dragPosition_ = 0;
  // The handle's pixel as last painted, to skip repaints that change nothing.
  int paintedX_ = -1;
  // The moment last announced by hovered; negative when none.
  double hoveredAt_ = -1;
};
