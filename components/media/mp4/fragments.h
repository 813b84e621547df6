#pragma once

#include "media/mp4/walk_context.h"

// A movie fragment (moof): each track fragment's samples added to its track,
// with their durations, the engine's cost of them, and whether their bytes
// are in the file.
namespace mp4_reader::walk {

void ReadFragment(Context& context, const Box& moof);

}  // namespace mp4_reader::walk
