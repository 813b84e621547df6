#pragma once

#include <cstdint>

#include "media/flv/walk_state.h"
#include "media/flv/walker.h"

// Finding tags again after bytes that are no tag: a search byte by byte for a
// strictly plausible tag or a glued-on "FLV" header, which names the bytes it
// skipped and any long run of zeros among them, and in a final pass calls
// whatever it never finds a tag in trailing bytes. The search goes on across
// Walk() calls and keeps to the budget's bytes and cancel flag.
namespace flv_reader::walk {

enum class ScanResult : uint8_t { kFound, kEnd, kWait, kCancelled, kBudget, kError };

// The bytes from `at` on are no tag: the walk searches from the next one.
void StartResync(Pass& p, int64_t at);
// kFound and kEnd leave the walk back among tags (at the end for kEnd).
// progressFrom: where this call's budget of bytes started.
ScanResult Scan(Pass& p, const WalkBudget& budget, int64_t progressFrom);

}  // namespace flv_reader::walk
