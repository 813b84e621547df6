#include "player_ui/player_icons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>

namespace player_icons {
namespace {

// Shapes are laid out on a 24x24 grid and scaled to the box.
constexpr qreal kGrid = 24;

QPainterPath Speaker() {
  QPainterPath path;
  path.moveTo(3, 9);
  path.lineTo(7, 9);
  path.lineTo(12, 4);
  path.lineTo(12, 20);
  path.lineTo(7, 15);
  path.lineTo(3, 15);
  path.closeSubpath();
  return path;
}

// Paints at the requested size every time, so icons stay sharp at any
// device pixel ratio without a pixmap per size.
class GlyphEngine : public QIconEngine {
 public:
  GlyphEngine(Glyph glyph, QColor colour) : glyph_(glyph), colour_(colour) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    QColor colour = colour_;
    if (mode == QIcon::Disabled) colour.setAlphaF(0.4f);
    Draw(*painter, glyph_, rect, colour);
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    // The base class paints onto uninitialised pixels.
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return pixmap;
  }

  QIconEngine* clone() const override { return new GlyphEngine(glyph_, colour_); }

 private:
  Glyph glyph_;
  QColor colour_;
};

}  // namespace

void Draw(QPainter& painter, Glyph glyph, const QRectF& box, const QColor& colour) {
  const qreal side = std::min(box.width(), box.height());
  if (side <= 0) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(box.center() - QPointF(side, side) / 2);
  painter.scale(side / kGrid, side / kGrid);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  const QPen stroke(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

  switch (glyph) {
    case Glyph::kPlay: {
      QPainterPath path;
      path.moveTo(7, 4);
      path.lineTo(20, 12);
      path.lineTo(7, 20);
      path.closeSubpath();
      painter.drawPath(path);
      break;
    }
    case Glyph::kPause:
      painter.drawRect(QRectF(6, 4, 4, 16));
      painter.drawRect(QRectF(14, 4, 4, 16));
      break;
    case Glyph::kVolume:
      painter.drawPath(Speaker());
      painter.setPen(stroke);
      painter.setBrush(Qt::NoBrush);
      // Arcs are in 1/16 degree.
      painter.drawArc(QRectF(10, 8, 6, 8), -60 * 16, 120 * 16);
      painter.drawArc(QRectF(9, 4, 11, 16), -60 * 16, 120 * 16);
      break;
    case Glyph::kMuted:
      painter.drawPath(Speaker());
      painter.setPen(stroke);
      painter.drawLine(QPointF(15, 9), QPointF(21, 15));
      painter.drawLine(QPointF(21, 9), QPointF(15, 15));
      break;
    case Glyph::kReplay: {
      painter.setPen(QPen(colour, 2.5, Qt::SolidLine, Qt::RoundCap));
      painter.setBrush(Qt::NoBrush);
      painter.drawArc(QRectF(4, 4, 16, 16), 100 * 16, 290 * 16);
      // The arrow head at the open end of the circle, pointing along it.
      QPainterPath head;
      head.moveTo(14, -0.5);
      head.lineTo(14, 8.5);
      head.lineTo(7.5, 4);
      head.closeSubpath();
      painter.setPen(Qt::NoPen);
      painter.setBrush(colour);
      painter.drawPath(head);
      break;
    }
    case Glyph::kNote: {
      // An eighth note: tilted head, stem, flag.
      painter.save();
      painter.translate(8, 18);
      painter.rotate(-20);
      painter.drawEllipse(QRectF(-4, -3, 8, 6));
      painter.restore();
      painter.drawRect(QRectF(10.5, 3, 1.8, 15));
      QPainterPath flag;
      flag.moveTo(12.3, 3);
      flag.cubicTo(13, 7, 19, 8, 17, 14);
      flag.cubicTo(18, 9, 14, 9, 12.3, 8);
      flag.closeSubpath();
      painter.drawPath(flag);
      break;
    }
    case Glyph::kInfo:
      // A ring around a lower-case i.
      painter.setPen(stroke);
      painter.setBrush(Qt::NoBrush);
      painter.drawEllipse(QRectF(3, 3, 18, 18));
      painter.setPen(Qt::NoPen);
      painter.setBrush(colour);
      painter.drawEllipse(QPointF(12, 8), 1.4, 1.4);
      painter.drawRect(QRectF(11, 10.5, 2, 6.5));
      break;
  }
  painter.restore();
}

QIcon Icon(Glyph glyph, const QColor& colour) { return QIcon(new GlyphEngine(glyph, colour)); }

}  // namespace player_icons
