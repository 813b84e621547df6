#include "player_ui/seek_bar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "player_ui/player_actions.h"

namespace {

constexpr qreal kHandleRadius = 5;
constexpr qreal kTrackHeight = 4;

}  // namespace

SeekBar::SeekBar(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::TabFocus);
  setAccessibleName(tr("Seek"));
  setCursor(Qt::PointingHandCursor);
  // Hovering shows where the pointer would seek to.
  setMouseTracking(true);
}

void SeekBar::SetDuration(double seconds) {
  const double duration = std::isfinite(seconds) && seconds > 0 ? seconds : 0;
  if (duration == duration_) return;
  duration_ = duration;
  update();
  if (duration_ <= 0 && hoveredAt_ >= 0) {
    hoveredAt_ = -1;
    emit hoverEnded();
  }
}

void SeekBar::RequestSeek(double seconds) {
  if (duration_ <= 0 || !std::isfinite(seconds)) return;
  position_ = std::clamp(seconds, 0.0, duration_);
  update();
  emit seekRequested(position_);
}

void SeekBar::SetPosition(double seconds) {
  position_ = std::isfinite(seconds) ? std::max(seconds, 0.0) : 0;
  // Called for every reported frame time: repaint only when the handle moves.
  if (!dragging_ && qRound(XOf(position_)) != paintedX_) update();
}

void SeekBar::SetBuffered(const QList<Range>& ranges) {
  if (ranges == buffered_) return;
  buffered_ = ranges;
  update();
}

void SeekBar::SetColours(const QColor& track, const QColor& accent) {
  track_ = track;
  accent_ = accent;
  update();
}

QSize SeekBar::sizeHint() const { return {200, 20}; }
QSize SeekBar::minimumSizeHint() const { return {40, 20}; }

QRectF SeekBar::Track() const {
  const QRectF area = QRectF(rect()).adjusted(kHandleRadius, 0, -kHandleRadius, 0);
  return QRectF(area.left(), area.center().y() - kTrackHeight / 2, std::max(area.width(), 0.0),
                kTrackHeight);
}

double SeekBar::TimeAt(qreal x) const {
  const QRectF track = Track();
  if (track.width() <= 0) return 0;
  return std::clamp((x - track.left()) / track.width(), 0.0, 1.0) * duration_;
}

qreal SeekBar::XOf(double seconds) const {
  const QRectF track = Track();
  if (duration_ <= 0) return track.left();
  return track.left() + std::clamp(seconds / duration_, 0.0, 1.0) * track.width();
}

bool SeekBar::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && duration_ > 0) {
    // Taken, so that no ancestor shows one either.
    event->accept();
    return true;
  }
  return QWidget::event(event);
}

void SeekBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  const QRectF track = Track();
  painter.setBrush(track_);
  painter.drawRoundedRect(track, kTrackHeight / 2, kTrackHeight / 2);

  paintedX_ = -1;
  if (duration_ <= 0) return;

  QColor buffered = accent_;
  buffered.setAlphaF(0.45f);
  painter.setBrush(buffered);
  for (const auto& [start, end] : buffered_) {
    const qreal left = XOf(start);
    const qreal right = XOf(end);
    if (right > left) painter.drawRect(QRectF(left, track.top(), right - left, track.height()));
  }

  const qreal x = XOf(ShownPosition());
  painter.setBrush(accent_);
  painter.drawRoundedRect(QRectF(track.left(), track.top(), x - track.left(), track.height()),
                          kTrackHeight / 2, kTrackHeight / 2);
  painter.drawEllipse(QPointF(x, track.center().y()), kHandleRadius, kHandleRadius);
  paintedX_ = qRound(x);
  if (hasFocus()) {
    // A ring around the handle: where the arrow keys will move it from.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(accent_, 1.5));
    painter.drawEllipse(QPointF(x, track.center().y()), kHandleRadius + 3, kHandleRadius + 3);
  }
}

void SeekBar::mousePressEvent(QMouseEvent* event) {
  // Taken even when nothing can be sought, so that the press does not fall
  // through to the picture, where a click pauses.
  event->accept();
  if (event->button() != Qt::LeftButton || duration_ <= 0) return;
  dragging_ = true;
  dragPosition_ = TimeAt(event->position().x());
  update();
  emit seekRequested(dragPosition_);
}

void SeekBar::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  Hover(event->position().x());
  if (!dragging_) return;
  const double at = TimeAt(event->position().x());
  if (at == dragPosition_) return;
  dragPosition_ = at;
  update();
  emit seekRequested(dragPosition_);
}

void SeekBar::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (!dragging_ || event->button() != Qt::LeftButton) return;
  dragging_ = false;
  // Shown at the point sought until the engine reports its new position.
  position_ = dragPosition_;
  update();
}

void SeekBar::Hover(qreal x) {
  if (duration_ <= 0) return;
  const double at = TimeAt(x);
  if (at == hoveredAt_) return;
  hoveredAt_ = at;
  emit hovered(at);
}

void SeekBar::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (hoveredAt_ < 0) return;
  hoveredAt_ = -1;
  emit hoverEnded();
}

void SeekBar::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key != Qt::Key_Left && key != Qt::Key_Right) || event->modifiers() != Qt::NoModifier ||
      duration_ <= 0) {
    // Not the bar's (or, without a length, the player area's relative
    // seek): the player area's keys still work from here.
    event->ignore();
    return;
  }
  event->accept();
  const double step =
      key == Qt::Key_Right ? player_actions::kSeekStepSeconds : -player_actions::kSeekStepSeconds;
  RequestSeek(ShownPosition() + step);
}

void SeekBar::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void SeekBar::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}
