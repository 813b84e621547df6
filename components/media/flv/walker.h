#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "media/flv/amf.h"
#include "media/flv/byte_source.h"
#include "media/flv/facts.h"
#include "media/flv/script_data.h"

// Walks an FLV file's tags from the start: it reads each tag header and the
// first bytes of its body, skips the rest, finds tags again after damage, and
// measures what the file holds (facts.h). A walk runs in slices if asked, can
// be cancelled between any two tags, and goes on from where it stopped once a
// file still being written has grown. Memory stays bounded whatever the file.
namespace flv_reader {

namespace walk {
struct State;
class Reader;
}  // namespace walk

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

// One thread at a time: Walk() and Snapshot() take turns, perhaps on a
// worker thread; another thread may only set the budget's cancel flag.
class Walker {
 public:
  explicit Walker(const ByteSource& source, WalkOptions options = {});
  ~Walker();
  Walker(const Walker&) = delete;
  Walker& operator=(const Walker&) = delete;

  // Goes on from where the last call stopped; the file's size is asked anew.
  WalkStatus Walk(const WalkBudget& budget = {});
  // The facts so far. After kEndOfData they are the whole file's as it is
  // now: a tag the end cuts short is reported cut, although a later Walk()
  // may find it whole. Otherwise the coverage is partial.
  Facts Snapshot() const;
  // How far the walk has got, in bytes from the file's start.
  int64_t Position() const;
  // Whether an audio or video tag has been read.
  bool MediaSeen() const;

 private:
  const ByteSource& source_;
  WalkOptions options_;
  std::unique_ptr<walk::State> state_;
  std::unique_ptr<walk::Reader> reader_;
};

// A whole walk in one call.
Facts WalkAll(const ByteSource& source, const WalkOptions& options = {});

}  // namespace flv_reader
