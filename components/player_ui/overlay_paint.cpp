#include "player_ui/overlay_paint.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLine>
#include <QTextOption>
#include <algorithm>
#include <cmath>

#include "player_ui/player_icons.h"

namespace overlay_paint {
namespace {

constexpr qsizetype kMostChars = 4000;
// Between the icon and the words below it.
constexpr int kIconGap = 8;

QString Bounded(const QString& text) {
  QString shown = text.size() > kMostChars ? text.first(kMostChars) + QChar(0x2026) : text;
  shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
  return shown;
}

QFont Bold(const QFont& font) {
  QFont bold = font;
  bold.setBold(true);
  return bold;
}

}  // namespace

Wrapped::Wrapped(const QString& text, const QFont& font, qreal width)
    : layout_(Bounded(text), font), width_(std::max(width, 1.0)) {
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout_.setTextOption(option);
  layout_.setCacheEnabled(true);
  layout_.beginLayout();
  for (QTextLine line = layout_.createLine(); line.isValid(); line = layout_.createLine()) {
    line.setLineWidth(width_);
    const qreal natural = std::min(line.naturalTextWidth(), width_);
    line.setPosition(QPointF((width_ - natural) / 2, height_));
    height_ += line.height();
    widest_ = std::max(widest_, natural);
  }
  layout_.endLayout();
}

void Wrapped::Draw(QPainter& painter, qreal middle, qreal top) const {
  layout_.draw(&painter, QPointF(middle - width_ / 2, top));
}

int BoxHeight(const Wrapped& text) { return int(std::ceil(text.Height())) + 2 * kPadY; }

void Box(QPainter& painter, const QRect& slot, const Wrapped& text, const QColor& band,
         const QColor& colour) {
  if (slot.isEmpty()) return;
  const QRectF box(slot.center().x() + 0.5 - text.Width() / 2 - kPadX,
                   slot.center().y() + 0.5 - text.Height() / 2 - kPadY, text.Width() + 2 * kPadX,
                   text.Height() + 2 * kPadY);
  QColor shade = band;
  shade.setAlphaF(0.75f);
  painter.save();
  painter.setClipRect(slot);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(shade);
  painter.drawRoundedRect(box.intersected(QRectF(slot)), 6, 6);
  painter.setPen(colour);
  text.Draw(painter, box.center().x(), box.top() + kPadY);
  painter.restore();
}

void Plain(QPainter& painter, const QRect& slot, const Wrapped& text, const QColor& colour) {
  if (slot.isEmpty()) return;
  painter.save();
  painter.setClipRect(slot);
  painter.setPen(colour);
  text.Draw(painter, slot.center().x() + 0.5, slot.center().y() + 0.5 - text.Height() / 2);
  painter.restore();
}

int IconSize(const QRect& room) {
  return std::clamp(std::min(room.width(), room.height()) / 3, 16, 96);
}

int AudioOnlyHeight(int icon, const QFont& font) {
  return icon + kIconGap + int(std::ceil(QFontMetricsF(Bold(font)).height())) +
         int(std::ceil(QFontMetricsF(font).height()));
}

AudioOnly ArrangeAudioOnly(const QRect& slot, int icon, const QFont& font) {
  AudioOnly screen;
  if (slot.isEmpty()) return screen;
  const int title = int(std::ceil(QFontMetricsF(Bold(font)).height()));
  const int name = int(std::ceil(QFontMetricsF(font).height()));
  // Short of room, the icon gives way before the words; too small to
  // make out, it goes.
  int size = std::min({icon, slot.width(), slot.height() - kIconGap - title - name});
  if (size < 16) size = 0;
  const int total = (size > 0 ? size + kIconGap : 0) + title + name;
  int y = slot.top() + std::max((slot.height() - total) / 2, 0);
  if (size > 0) {
    screen.icon = QRect(slot.center().x() + 1 - (size + 1) / 2, y, size, size);
    y += size + kIconGap;
  }
  screen.title = QRect(slot.left(), y, slot.width(), title).intersected(slot);
  screen.name = QRect(slot.left(), y + title, slot.width(), name).intersected(slot);
  return screen;
}

void PaintAudioOnly(QPainter& painter, const AudioOnly& screen, bool note, const QString& name,
                    const QColor& colour) {
  painter.save();
  if (note && !screen.icon.isEmpty()) {
    player_icons::Draw(painter, player_icons::Glyph::kNote, screen.icon, colour);
  }
  painter.setPen(colour);
  const QFont base = painter.font();
  if (!screen.title.isEmpty()) {
    painter.setFont(Bold(base));
    painter.drawText(screen.title, Qt::AlignCenter,
                     QCoreApplication::translate("PlayerOverlay", "Audio only"));
  }
  if (!screen.name.isEmpty()) {
    painter.setFont(base);
    const QString shown =
        QFontMetricsF(base).elidedText(name.left(4000), Qt::ElideMiddle, screen.name.width());
    painter.drawText(screen.name, Qt::AlignCenter, shown);
  }
  painter.restore();
}

}  // namespace overlay_paint
