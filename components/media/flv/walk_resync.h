#pragma once

#include <cstdint>

#include "media/flv/walk_state.h"
#include "media/flv/walk_tags.h"

// Finding tags again after bytes that are no tag: a search byte by byte for a
// strictly plausible tag or a glued-on "FLV" header, which names the bytes it
// skipped and any long run of zeros among them, lists the long stretches
// without a tag (Damage::noTagRegions), and in a final pass calls whatever it
// never finds a tag in trailing bytes. The search goes on across Walk()
// calls and keeps to the budget's bytes and cancel flag.
namespace flv_reader::walk {

enum class ScanResult : uint8_t { kFound, kEnd, kLoneTag, kWait, kCancelled, kBudget, kError };

// The bytes from `at` on are no tag: the walk searches from the next one.
void StartResync(Pass& p, int64_t at);
// kFound and kEnd leave the walk back among tags (at the end for kEnd).
// kLoneTag, in a final pass only: nothing in the file is a tag but the one
// where the header says the tags start, which is in `lone`; the caller takes
// it and calls AfterLoneTag(). progressFrom: where this call's budget of
// bytes started. Holes are stepped over and runs of zeros passed at the
// speed of memory; what the search may cost in all is bounded by the media
// found (past the bound it goes on at the file's last tags, naming what it
// did not search).
ScanResult Scan(Pass& p, const WalkBudget& budget, int64_t progressFrom, TagView* lone);
// The rest of the file after the lone first tag (from `from` on) holds none.
void AfterLoneTag(Pass& p, int64_t from);

}  // namespace flv_reader::walk
