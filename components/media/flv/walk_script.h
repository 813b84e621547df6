#pragma once

#include <cstdint>

#include "media/flv/flv_format.h"
#include "media/flv/walk_state.h"

// Script tags: each is parsed within the walk's bounds (size of one tag, bytes
// in all, AMF depth and values), and what it says goes to the facts:
// onMetaData's claims (the first tag's), cue points, captions, and the names
// of the others. A tag too big, too deep or with too many values is named and
// marked to be hidden from the engine.
namespace flv_reader::walk {

void OnScript(Pass& p, int64_t at, const TagHeader& tag);

}  // namespace flv_reader::walk
