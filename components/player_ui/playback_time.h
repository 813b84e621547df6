#pragma once

#include <QString>

// Playback time as the controls show it: "m:ss" below an hour, "h:mm:ss"
// when `withHours`. Negative and non-finite values show as 0.
QString FormatPlaybackTime(double seconds, bool withHours);
// "elapsed / duration", both with hours once the duration reaches an hour;
// the duration reads "--:--" while unknown (0 or less: live streams,
// truncated files).
QString PlaybackTimeText(double position, double duration);
