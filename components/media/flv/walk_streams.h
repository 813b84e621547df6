#pragma once

#include <cstdint>
#include <span>

#include "media/flv/facts.h"
#include "media/flv/flv_format.h"
#include "media/flv/walk_state.h"

// The audio and video streams tag by tag: codecs and their changes, the sound
// format and picture size (from codec headers where the flags do not tell),
// timestamps that leap ahead or step back, the time index, and once the walk
// is done the figures derived from them (frame length, rate, content time).
namespace flv_reader::walk {

// `body` holds the first bytes of the tag's body; the codec headers behind
// them are read from the file when needed.
void OnAudio(Pass& p, int64_t at, const TagHeader& tag, std::span<const uint8_t> body);
void OnVideo(Pass& p, int64_t at, const TagHeader& tag, std::span<const uint8_t> body);

// The derived figures of one stream once its tags are counted. No frame
// lasts longer than leapMs, whatever a codec header or a claim says.
void DeriveStream(StreamFacts& stream, const StreamState& state, bool video,
                  const Metadata& metadata, int64_t leapMs);

}  // namespace flv_reader::walk
