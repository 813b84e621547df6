#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>

class QPainter;

// The player's glyphs, drawn as shapes in the movie's own colours: the
// platform's icon theme may be missing or clash with the movie's look, and
// shapes stay sharp at every size and pixel ratio.
namespace player_icons {

enum class Glyph { kPlay, kPause, kVolume, kMuted, kReplay, kNote, kInfo };

// Draws `glyph` filling `box` (kept square, centred) in `colour`.
void Draw(QPainter& painter, Glyph glyph, const QRectF& box, const QColor& colour);

// `glyph` as an icon for buttons.
QIcon Icon(Glyph glyph, const QColor& colour);

}  // namespace player_icons
