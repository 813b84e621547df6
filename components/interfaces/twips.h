#pragma once

#include <QRect>
#include <cmath>

// Twips are 1/1440 inch; a pixel is 1440 / logical DPI twips (15 at 96 DPI).
// Every function takes the logical DPI of the screen the pixels are on.
namespace twips {

inline double PerPixel(double logicalDpi) { return 1440.0 / logicalDpi; }

// Rounds to the nearest pixel; negative sizes become 0.
inline int ToPixels(double value, double logicalDpi) {
  const long px = std::lround(value / PerPixel(logicalDpi));
  return px < 0 ? 0 : static_cast<int>(px);
}

// Positions may lie above or left of the client area, so they keep their sign.
inline int ToPixelsSigned(double value, double logicalDpi) {
  return static_cast<int>(std::lround(value / PerPixel(logicalDpi)));
}

inline QRect RectToPixels(int left, int top, int width, int height, double logicalDpi) {
  return QRect(ToPixelsSigned(left, logicalDpi), ToPixelsSigned(top, logicalDpi),
               ToPixels(width, logicalDpi), ToPixels(height, logicalDpi));
}

}  // namespace twips
