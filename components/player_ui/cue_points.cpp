#include "cue_points.h"

#include <cmath>

namespace cue_points {

std::optional<double> Next(const stream_facts::CuePoints& cues, double position) {
  std::optional<double> best;
  for (const stream_facts::CuePoint& cue : cues) {
    const double at = cue.seconds;
    if (std::isfinite(at) && at > position + kSameMoment && (!best || at < *best)) best = at;
  }
  return best;
}

std::optional<double> Previous(const stream_facts::CuePoints& cues, double position) {
  std::optional<double> best;
  for (const stream_facts::CuePoint& cue : cues) {
    const double at = cue.seconds;
    if (std::isfinite(at) && at <= position - kWalkBack && (!best || at > *best)) best = at;
  }
  return best;
}

}  // namespace cue_points
