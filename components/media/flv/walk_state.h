#pragma once

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "media/flv/byte_source.h"
#include "media/flv/facts.h"
#include "media/flv/walk_options.h"
#include "media/flv/walk_reader.h"

// What a walk carries from one Walk() call to the next, and what one pass
// over the file works with. A State is a plain value: Snapshot() copies it to
// finish the walk on the copy without disturbing the original.
namespace flv_reader::walk {

// One stream's running figures, beside the StreamFacts they feed.
struct StreamState {
  int64_t prevMs = -1;  // the tag before, for steps; a glued-on recording starts afresh
  bool prevWasFrame = false;
  int64_t stepSum = 0;
  int64_t steps = 0;
  // ModEx offsets: the nanoseconds the steps counted add to stepSum, and the
  // offset of the tag before.
  int64_t stepNsSum = 0;
  int32_t prevNs = 0;
  CodecTag currentCodec;
  int pictureAttempts = 0;
  int samplesPerFrame = 0;
  // The track the stream's figures follow (-1 until a tag names one), and
  // the tags that carried it.
  int mainTrack = -1;
  int64_t trackTags = 0;
  // A configuration record came before the current codec's first frame, or
  // its lack was named.
  bool configSeen = false;
  bool configMissingNamed = false;
};

// A track of a multitrack stream other than its main one.
struct TrackState {
  int id = 0;
  StreamFacts facts;
  StreamState state;
};

// An index that stays under its bound by keeping every other entry and from
// then on adding only every other candidate.
struct SparseIndex {
  std::vector<IndexEntry> entries;
  int64_t stride = 1;
  int64_t seen = 0;
  int64_t lastMs = -1;  // of the last candidate taken

  void Add(IndexEntry entry, size_t bound) {
    if (seen++ % stride != 0) return;
    entries.push_back(entry);
    if (entries.size() < std::max<size_t>(bound, 2)) return;
    for (size_t i = 0; 2 * i < entries.size(); ++i) entries[i] = entries[2 * i];
    entries.resize((entries.size() + 1) / 2);
    stride *= 2;
  }
};

struct State {
  enum class Phase : uint8_t { kHeader, kTags, kResync, kNotFlv };
  explicit State(size_t problemsPerKind) { facts.problems = ProblemList(problemsPerKind); }

  Phase phase = Phase::kHeader;
  Facts facts;
  int64_t pos = 0;   // the next tag
  int64_t size = 0;  // the file's size as the last call saw it
  bool atEnd = false;
  // Where the file's header says its tags start.
  int64_t firstTagAt = -1;
  // Finding tags again: the bytes from resyncFrom on are no tag so far.
  int64_t resyncFrom = -1;
  int64_t scanPos = 0;
  int64_t zeroRunStart = -1;
  // Bytes the searches have looked at one by one (holes stepped over and
  // runs of zeros left out), against their bound.
  int64_t searchWork = 0;
  bool searchAbandoned = false;
  int64_t lastMediaMs = -1;
  // Script tags the engine reads only as data, before the first audio or
  // video tag: the first few, to hide along with the rest once they are many.
  int64_t dataScriptsBeforeMedia = 0;
  std::vector<HiddenTag> earlyDataScripts;
  // The cue points kept, by time and name, so that one is kept once.
  std::set<std::pair<int64_t, std::string>> cueKeys;
  // A writer's PreviousTagSize habit, once two fields in a row show it.
  int64_t deltaCandidate = 0;
  int deltaRun = 0;
  bool deltaLearned = false;
  int64_t learnedDelta = 0;
  int64_t firstWrongDelta = 0;
  bool wrongDeltasSame = true;
  StreamState audio, video;
  std::vector<TrackState> audioTracks, videoTracks;
  SparseIndex videoIndex, audioIndex;
  int64_t scriptBytesParsed = 0;
  // For choosing how to read.
  int64_t strideTags = 0;
  int64_t strideFrom = -1;

  // How far the walk has got: while searching for tags, the search counts.
  int64_t Progress() const { return phase == Phase::kResync ? scanPos : pos; }
};

// A frame shown `compositionMs` after its timestamp (B-frames): where the
// stream's pictures end. An offset longer than `bound` is no encoder's and is
// left out.
inline void NoteShown(StreamFacts& stream, int64_t ms, int64_t compositionMs, int64_t bound) {
  if (compositionMs <= 0 || compositionMs > bound) return;
  stream.maxShownMs = std::max(stream.maxShownMs, ms + compositionMs);
}

// One pass over the file: a Walk() call, where bytes still missing may yet
// arrive, or the last pass a Snapshot() makes, where the end of the bytes is
// the end of the file (finalPass).
struct Pass {
  State& s;
  Reader& r;
  const WalkOptions& o;
  const ByteSource& source;
  const bool finalPass;

  int64_t S() const { return r.size(); }
  void Problem(ProblemKind kind, int64_t offset, int64_t timeMs, std::string text) {
    s.facts.problems.Add({kind, offset, timeMs, std::move(text)});
  }
  // Named once, however often the file fails to read.
  WalkStatus ReadFailed() {
    if (!s.facts.problems.Has(ProblemKind::kReadError)) {
      Problem(ProblemKind::kReadError, s.Progress(), -1, "the file could not be read here");
    }
    return WalkStatus::kReadError;
  }
};

}  // namespace flv_reader::walk
