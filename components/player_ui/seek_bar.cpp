#include "seek_bar.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

constexpr qreal kHandleRadius = 5;
constexpr qreal kTrackHeight = 4;

}  // namespace

SeekBar::SeekBar(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAccessibleName(tr("Seek"));
  setCursor(Qt::PointingHandCursor);
}

void SeekBar::SetDuration(double seconds) {
  const double duration = std::isfinite(seconds) && seconds > 0 ? seconds : 0;
  if (duration == duration_) return;
  duration_ = duration;
  update();
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
