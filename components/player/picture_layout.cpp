#include "player/picture_layout.h"

#include <algorithm>

namespace picture_layout {

QRect ShowAll(QSize video, QSizeF area) {
  if (video.width() <= 0 || video.height() <= 0 || area.width() < 1 || area.height() < 1) {
    return {};
  }
  const qreal scale = std::min(area.width() / video.width(), area.height() / video.height());
  const int w = std::clamp(qRound(video.width() * scale), 1, qRound(area.width()));
  const int h = std::clamp(qRound(video.height() * scale), 1, qRound(area.height()));
  return QRect(qRound((area.width() - w) / 2), qRound((area.height() - h) / 2), w, h);
}

}  // namespace picture_layout
