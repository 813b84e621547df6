#pragma once

#include <cstdint>
#include <optional>

#include "media/flv/flv_format.h"
#include "media/flv/walk_state.h"

// The file's edges: its own header, where the tags start (whatever the header
// says), another recording's header glued on mid-file, and an end that cuts a
// tag short or leaves bytes that are no tag.
namespace flv_reader::walk {

// Reads the file header and puts the walk at the first tag; a status when the
// walk cannot go on (not FLV, a read error, or too few bytes yet to decide).
// A walk of a window of the file, or of a tail fetched alone, starts at its
// first byte with no header.
std::optional<WalkStatus> ReadHeader(Pass& p);
// A second header at `at`: its tags' timestamps start afresh.
void SecondHeader(Pass& p, int64_t at);
// The last tag at `at`, which the end of the file cuts short.
void CutAtEnd(Pass& p, int64_t at, const TagHeader& tag);
// Fewer bytes than a tag header at `at`, the end of the file.
void BytesAtEnd(Pass& p, int64_t at);

}  // namespace flv_reader::walk
