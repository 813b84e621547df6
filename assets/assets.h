#pragma once

#include <QIcon>
#include <QPixmap>

// The program's built-in pictures.
namespace assets {

// The nine-image icon set (48, 32 and 16 pixels at 4, 8 and 32 bits).
QIcon AppIcon();

// The About box's title banner, 290 x 56 pixels.
QPixmap AboutBanner();

}  // namespace assets
