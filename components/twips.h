#pragma once

#include <QWidget>
#include <cmath>

// Twips are 1/1440 inch; a pixel is 1440 / logical DPI twips (15 at 96 DPI).
namespace twips {

inline double PerPixel(const QWidget* w) { return 1440.0 / w->logicalDpiX(); }

// Rounds to the nearest pixel; negative sizes become 0.
inline int ToPixels(double value, const QWidget* w) {
  const long px = std::lround(value / PerPixel(w));
  return px < 0 ? 0 : static_cast<int>(px);
}

// Positions may lie above or left of the client area, so they keep their sign.
inline int ToPixelsSigned(double value, const QWidget* w) {
  return static_cast<int>(std::lround(value / PerPixel(w)));
}

inline QRect RectToPixels(int left, int top, int width, int height, const QWidget* w) {
  return QRect(ToPixelsSigned(left, w), ToPixelsSigned(top, w), ToPixels(width, w),
               ToPixels(height, w));
}

}  // namespace twips
