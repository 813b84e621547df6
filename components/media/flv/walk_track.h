#pragma once

#include <cstdint>
#include <optional>

#include "media/flv/facts.h"
#include "media/flv/walk_state.h"

// One track of a stream as the walk counts it: which figures a tag's track
// id feeds (the stream's own for its main track, a listed track's for the
// others, bounded), the codec and its changes, and each tag's step in time.
namespace flv_reader::walk {

struct Track {
  StreamFacts& facts;
  StreamState& state;
  bool main;  // the track the stream's figures follow
};

// The track with id `id` of the audio or video stream; nothing for a track
// past the listed bound (counted in StreamSet::tracksLeftOut).
std::optional<Track> TrackFor(Pass& p, bool audio, int id);

// Notes the codec of a tag of the track; a change is named as a problem.
void TrackCodec(Pass& p, Track t, const CodecTag& codec, bool video, int64_t at, int64_t ms);

// A frame, or codec configuration (frame false): both take part in the
// checks for leaps and steps back (named for the main track only), only
// frames in the timeline. `ns` is the tag's ModEx offset, which refines the
// steps' sum.
void Step(Pass& p, Track t, bool video, int64_t at, int64_t ms, bool frame, int32_t ns = 0);

// An audio frame of the main track as a seek point, one a second or so.
void IndexAudio(Pass& p, int64_t at, int64_t ms);

}  // namespace flv_reader::walk
