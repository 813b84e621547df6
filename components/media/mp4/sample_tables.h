#pragma once

#include "media/mp4/walk_context.h"

// One track's samples from its tables (stts, stsc, stsz, stco or co64),
// read a block at a time: how many there are, how long they last, what the
// engine's index will cost, and which is the first whose bytes are not all
// in the file.
namespace mp4_reader::walk {

// Counts what the engine would index; false (and refused) past a bound.
bool CountSamples(Context& context, size_t track);
// Where the samples lie against the file's end; after CountSamples.
void FindHeldSamples(Context& context, size_t track);

}  // namespace mp4_reader::walk
