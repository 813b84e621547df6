#include "player_ui/cue_points.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace cue_points {
namespace {

std::vector<double> Times(const stream_facts::CuePoints& cues) {
  std::vector<double> times;
  for (const stream_facts::CuePoint& cue : cues) {
    if (std::isfinite(cue.seconds)) times.push_back(cue.seconds);
  }
  std::sort(times.begin(), times.end());
  return times;
}

}  // namespace

std::optional<double> Next(const stream_facts::CuePoints& cues, double position) {
  const std::vector<double> times = Times(cues);
  const auto next = std::upper_bound(times.begin(), times.end(), position + kSameMoment);
  if (next == times.end()) return std::nullopt;
  return *next;
}

std::optional<double> Previous(const stream_facts::CuePoints& cues, double position) {
  const std::vector<double> times = Times(cues);
  // The cue point being played: the last one reached.
  auto current = std::upper_bound(times.begin(), times.end(), position + kSameMoment);
  if (current == times.begin()) return std::nullopt;
  --current;
  if (position - *current >= kWalkBack) return *current;
  if (current == times.begin()) return std::nullopt;
  return *std::prev(current);
}

}  // namespace cue_points
