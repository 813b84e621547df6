#include "player_ui/playback_time.h"

#include <algorithm>
#include <cmath>

QString FormatPlaybackTime(double seconds, bool withHours) {
  const qint64 whole = std::isfinite(seconds) && seconds > 0 ? qint64(std::min(seconds, 9e15)) : 0;
  const QString ss = QStringLiteral("%1").arg(whole % 60, 2, 10, QLatin1Char('0'));
  if (!withHours) return QStringLiteral("%1:%2").arg(whole / 60).arg(ss);
  return QStringLiteral("%1:%2:%3")
      .arg(whole / 3600)
      .arg((whole / 60) % 60, 2, 10, QLatin1Char('0'))
      .arg(ss);
}

QString PlaybackTimeText(double position, double duration) {
  const bool known = std::isfinite(duration) && duration > 0;
  // A live stream can run past an hour: the elapsed time grows its field.
  const bool hours = (known ? duration : position) >= 3600;
  return FormatPlaybackTime(position, hours) + QStringLiteral(" / ") +
         (known ? FormatPlaybackTime(duration, hours) : QStringLiteral("--:--"));
}
