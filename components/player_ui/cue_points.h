#pragma once

#include <optional>

#include "media/stream_facts.h"

// Where the cue point keys go from `position` (seconds), as players do
// with chapters:
// - Next: the first cue point after the position.
// - Previous: the start of the cue point being played (the last one at or
//   before the position), or, within kWalkBack after it, the one before it,
//   so that pressing again walks back.
// A seek lands on a frame next to its target rather than exactly on it, so
// a cue point up to kSameMoment after the position counts as reached.
// Nothing (no seek) when there is no such cue point, and without any. The
// cue points need not be in order; those with no finite time are ignored.
namespace cue_points {

inline constexpr double kSameMoment = 0.1;
inline constexpr double kWalkBack = 1.0;

std::optional<double> Next(const stream_facts::CuePoints& cues, double position);
std::optional<double> Previous(const stream_facts::CuePoints& cues, double position);

}  // namespace cue_points
