#pragma once

#include <optional>

#include "stream_facts.h"

// Where the cue point keys go from `position` (seconds), as players do
// with chapters:
// - Next: the first cue point after the position. One a hair after it
//   (kSameMoment) counts as where playback already is, since a seek lands
//   on a frame next to its target rather than exactly on it.
// - Previous: the last cue point at least kWalkBack before the position,
//   so that from within that time after a cue point it goes to the one
//   before it, and pressing again walks back.
// Nothing (no seek) when there is no such cue point, and without any. The
// cue points need not be in order; those with no finite time are ignored.
namespace cue_points {

inline constexpr double kSameMoment = 0.1;
inline constexpr double kWalkBack = 1.0;

std::optional<double> Next(const stream_facts::CuePoints& cues, double position);
std::optional<double> Previous(const stream_facts::CuePoints& cues, double position);

}  // namespace cue_points
