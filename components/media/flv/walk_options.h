#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "media/flv/amf.h"
#include "media/flv/script_data.h"

// What a walk of an FLV file is told (its bounds, and how much one call may
// do) and what a call answers: shared by the walker (walker.h) and the
// pieces of the walk beneath it, which include this and never the walker.
namespace flv_reader {

struct WalkOptions {
  int64_t leapMs = 5000;  // a step ahead longer than this within one stream is a leap
  // A larger script tag is absurd and not read; past the total, script tags
  // are counted but not parsed.
  int64_t maxScriptTagBytes = int64_t{1} << 20;
  int64_t maxScriptBytesTotal = int64_t{64} << 20;
  // Named members in one script tag. The engine files every one in a table
  // it searches from the start for each new name: tens of thousands take it
  // minutes. Real metadata has a few dozen (its keyframe lists are arrays).
  int64_t maxScriptMembers = 2000;
  amf::Limits amf;
  ScriptBounds script;
  size_t maxIndexEntries = 100000;
  int64_t audioIndexSpacingMs = 1000;
  size_t problemsPerKind = 50;
  size_t maxCaptions = 10000;
  size_t maxHiddenScripts = 100000;
  // Bytes read at a time while tags are small. When tags are on average
  // further apart than sparseTagStride, the walker reads only the few bytes
  // around each header.
  int64_t readAheadBytes = int64_t{1} << 20;
  int64_t sparseTagStride = int64_t{32} << 10;
  // -1: the tags after the file header. Otherwise the walk starts at this
  // offset as if a tag were there, with no file header (the tail reader walks
  // a window of the file this way).
  int64_t startOffset = -1;
};

struct WalkBudget {
  int64_t maxTags = 0;   // tags to read in this call; 0: no limit
  int64_t maxBytes = 0;  // file bytes to move through in this call; 0: no limit
  // Looked at before every tag and every 64 KiB searched for one.
  const std::atomic<bool>* cancel = nullptr;
};

enum class WalkStatus : uint8_t {
  kEndOfData,    // reached the end of what the file holds now; call again once it grows
  kBudgetSpent,  // more to read: call again
  kCancelled,
  kNotFlv,
  kReadError,
};

}  // namespace flv_reader
