#include "assets/assets.h"

namespace assets {

QIcon AppIcon() {
  QIcon icon(QStringLiteral(":/tibrok/icon/tibrok.ico"));
  for (int size : {64, 128, 256}) {
    icon.addFile(QStringLiteral(":/tibrok/icon/hicolor/%1x%1/tibrok-flv-player.png").arg(size));
  }
  return icon;
}

QPixmap AboutBanner(qreal devicePixelRatio) {
  if (devicePixelRatio <= 1) return QPixmap(QStringLiteral(":/tibrok/about_banner.bmp"));
  QPixmap sharp(QStringLiteral(":/tibrok/about_banner@2x.bmp"));
  sharp.setDevicePixelRatio(2);
  return sharp;
}

}  // namespace assets
