#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <QTextLayout>

class QPainter;

// How the overlay draws into the slots it is given (player_ui/overlay_layers.h):
// its texts are measured and drawn from one layout, so what was measured is
// what is drawn, and nothing is drawn outside its slot. Text is plain,
// never markup.
namespace overlay_paint {

// Between a box's edge and its text.
inline constexpr int kPadX = 8;
inline constexpr int kPadY = 4;

// Text wrapped into lines `width` wide, at word boundaries (inside a word
// only when it is longer than a line), each line centred; "\n" breaks a
// line. Text beyond a few thousand characters is left out: no slot shows
// that much, and laying it out would cost every frame.
class Wrapped {
 public:
  Wrapped(const QString& text, const QFont& font, qreal width);
  Wrapped(const Wrapped&) = delete;
  Wrapped& operator=(const Wrapped&) = delete;

  qreal Height() const { return height_; }
  // The widest line.
  qreal Width() const { return widest_; }
  // Draws the lines in the painter's pen from `top`, centred on `middle`.
  void Draw(QPainter& painter, qreal middle, qreal top) const;

 private:
  QTextLayout layout_;
  qreal width_ = 0;
  qreal height_ = 0;
  qreal widest_ = 0;
};

// The height of a box around `text`.
int BoxHeight(const Wrapped& text);
// `text` on a see-through box of `band`, centred in `slot` and cut to it.
void Box(QPainter& painter, const QRect& slot, const Wrapped& text, const QColor& band,
         const QColor& colour);
// `text` alone, centred in `slot` and cut to it.
void Plain(QPainter& painter, const QRect& slot, const Wrapped& text, const QColor& colour);

// The audio-only screen, in the picture's place: an icon (the note, or the
// replay button at the end) over "Audio only" and the file's name.
struct AudioOnly {
  QRect icon;  // empty when the slot has no room for it
  QRect title;
  QRect name;
};
// The icon's size for the room there is: a third of its smaller side,
// 16 to 96 pixels.
int IconSize(const QRect& room);
int AudioOnlyHeight(int icon, const QFont& font);
// Centred in `slot`; the icon shrinks, or goes, when the slot is short.
AudioOnly ArrangeAudioOnly(const QRect& slot, int icon, const QFont& font);
void PaintAudioOnly(QPainter& painter, const AudioOnly& screen, bool note, const QString& name,
                    const QColor& colour);

}  // namespace overlay_paint
