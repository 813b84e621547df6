#pragma once

#include <cstdint>
#include <span>

#include "media/flv/flv_format.h"
#include "media/flv/walk_state.h"

// The tags of today's FLV writers, beside the legacy ones walk_streams.cpp
// counts: HEVC under codec id 12, and enhanced audio and video tags (FourCC
// codecs, multitrack, ModEx offsets). Each packet of a tag feeds its track:
// codec, frames and key frames, the format its configuration record or key
// frame header gives, timestamps refined by ModEx offsets. Only header bytes
// and configuration records are read, each bounded.
namespace flv_reader::walk {

// A tag whose stream count the caller has already taken; `peeked` holds
// the first bytes of its body, which the caller has at hand.
void OnModernTag(Pass& p, int64_t at, const TagHeader& tag, std::span<const uint8_t> peeked);

}  // namespace flv_reader::walk
