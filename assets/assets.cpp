#include "assets.h"

namespace assets {

QIcon AppIcon() { return QIcon(QStringLiteral(":/tibrok/icon/tibrok.ico")); }

QPixmap AboutBanner() { return QPixmap(QStringLiteral(":/tibrok/about_banner.bmp")); }

}  // namespace assets
