#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/mp4/box.h"
#include "media/mp4/facts.h"

// What the parts of one walk share: the file, the bounds, the facts so far
// and where each track's tables lie. Internal to the walker.
namespace mp4_reader::walk {

// Sums and products of what files claim, stopping at the largest int64_t
// (both operands not negative).
inline int64_t SaturatingAdd(int64_t a, int64_t b) { return a > INT64_MAX - b ? INT64_MAX : a + b; }
inline int64_t SaturatingMul(int64_t a, int64_t b) {
  if (a == 0 || b == 0) return 0;
  return a > INT64_MAX / b ? INT64_MAX : a * b;
}

// Where a table's entries start, how many it claims and how many its box
// really holds.
struct Table {
  int64_t first = -1;
  int64_t claimed = 0;
  int64_t held = 0;
  bool present() const { return first >= 0; }
};

struct TrackTables {
  Table stts, stsc, stsz, stco;
  bool co64 = false;
  uint32_t constantSize = 0;  // stsz: every sample this size; 0: a table of sizes
  // Fragment defaults from mvex.
  uint32_t defaultDuration = 0;
  uint32_t defaultSize = 0;
  // Entries the engine's index will hold for this track.
  int64_t indexCost = 0;
  // Fragments: where the next sample decodes, in the track's ticks.
  int64_t nextDecodeTicks = 0;
};

struct Context {
  const ByteSource& source;
  const Limits& limits;
  Facts& facts;
  std::vector<TrackTables> tables;  // one per facts.tracks entry
  int64_t indexCost = 0;            // every track's together

  bool Refused() const { return facts.refusal != Refusal::kNone; }
  void Refuse(Refusal why, std::string text);
  // Counts one more box; false (and refused) past the bound.
  bool CountBox();
  void Problem(int64_t offset, std::string text, int64_t timeMs = -1);
  // Adds index entries to a track's cost; false (and refused) past a bound.
  bool AddIndexCost(size_t track, int64_t entries);
  // The track of this id; -1 when none.
  int TrackIndex(uint32_t id) const;
};

}  // namespace mp4_reader::walk

namespace mp4_reader::walk {

// Visits the boxes from `start` to `end` one level down, `depth` levels
// below the top; stops at a broken header, past the depth bound, or once
// the walk is refused.
template <typename Visit>
void ForEachChild(Context& context, int64_t start, int64_t end, int depth, Visit visit);

bool ChildrenWithin(Context& context, int64_t start, int depth);
// One step of ForEachChild: the box at `at`, false when there is none to visit.
bool NextChild(Context& context, int64_t& at, int64_t end, Box* box);

template <typename Visit>
void ForEachChild(Context& context, int64_t start, int64_t end, int depth, Visit visit) {
  if (!ChildrenWithin(context, start, depth)) return;
  int64_t at = start;
  Box box;
  while (NextChild(context, at, end, &box)) {
    visit(box);
    if (context.Refused()) return;
  }
}

}  // namespace mp4_reader::walk
