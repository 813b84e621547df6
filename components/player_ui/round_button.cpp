#include "player_ui/round_button.h"

#include <QPainter>

#include "player_ui/player_icons.h"

void RoundButton::SetColours(const QColor& disc, const QColor& glyph) {
  disc_ = disc;
  glyph_ = glyph;
  update();
}

void RoundButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor disc = disc_;
  disc.setAlphaF(isDown() ? 0.9f : underMouse() ? 0.8f : 0.6f);
  painter.setPen(Qt::NoPen);
  painter.setBrush(disc);
  const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
  painter.drawEllipse(area);
  const qreal inset = area.width() / 4;
  player_icons::Draw(painter, player_icons::Glyph::kReplay,
                     area.adjusted(inset, inset, -inset, -inset), glyph_);
}

void RoundButton::enterEvent(QEnterEvent* event) {
  update();
  QAbstractButton::enterEvent(event);
}

void RoundButton::leaveEvent(QEvent* event) {
  update();
  QAbstractButton::leaveEvent(event);
}
