#pragma once

#include "media/mp4/walk_context.h"

// The movie header (moov) as far as the player needs it: the movie's
// timescale and duration, and for each track its kind, codec, picture or
// sound format, timescale and where its sample tables lie.
namespace mp4_reader::walk {

void ReadMovieHeader(Context& context, const Box& moov);

}  // namespace mp4_reader::walk
