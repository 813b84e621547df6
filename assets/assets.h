#pragma once

#include <QIcon>
#include <QPixmap>

// The program's built-in pictures.
namespace assets {

// The nine-image icon set (48, 32 and 16 pixels at 4, 8 and 32 bits), with
// the desktop's larger sizes (64, 128 and 256 pixels) beside it, so that a
// screen of twice the density gets pictures drawn for its size.
QIcon AppIcon();

// The About box's title banner, 290 x 56 pixels. On a screen with more
// than one device pixel to the pixel it is the banner drawn at twice the
// size (580 x 112 device pixels, device pixel ratio 2), so it stays sharp.
QPixmap AboutBanner(qreal devicePixelRatio = 1);

}  // namespace assets
