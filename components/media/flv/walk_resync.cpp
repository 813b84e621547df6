#include "media/flv/walk_resync.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "media/flv/flv_format.h"
#include "media/flv/text_format.h"
#include "media/flv/walk_tags.h"

namespace flv_reader::walk {
namespace {

// Shorter runs of zeros are ordinary in damaged data; longer ones are a
// region never written.
constexpr int64_t kMinZeroRun = 512;
constexpr int64_t kScanChunk = int64_t{64} << 10;
// What the search may cost: bytes looked at one by one, so many to begin
// with and so many more for every second of media found. Past it the
// search goes on at the file's last tags, and what lies between is named as
// not searched: a file of gigabytes of junk around a few seconds of media
// must not cost minutes of CPU.
constexpr int64_t kSearchBytes = int64_t{64} << 20;
constexpr int64_t kSearchBytesPerMediaSecond = int64_t{16} << 20;
// The last tags of a file, followed back from its end: enough of them to
// trust, and no more than a small read.
constexpr int kLastTagsFollowed = 64;
constexpr int64_t kLastTagsWindow = int64_t{1} << 20;

// A first byte a tag header or a glued "FLV" header can have: audio, video
// or script, perhaps with the encryption bit.
bool MaybeTagStart(uint8_t b) {
  switch (b) {
    case 0x08:
    case 0x09:
    case 0x12:
    case 0x28:
    case 0x29:
    case 0x32:
    case 'F':
      return true;
    default:
      return false;
  }
}

// The first byte from `i` on that is not zero; `n` when there is none.
int64_t FirstNonZero(const uint8_t* bytes, int64_t i, int64_t n) {
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    if (word != 0) break;
  }
  while (i < n && bytes[i] == 0) ++i;
  return i;
}

int64_t SearchAllowance(const State& s) {
  const int64_t mediaMs = std::max(s.audio.stepSum, s.video.stepSum);
  return kSearchBytes + kSearchBytesPerMediaSecond * (mediaMs / 1000);
}

void ListRegion(Pass& p, int64_t from, int64_t to) {
  auto& regions = p.s.facts.damage.noTagRegions;
  if (to - from < kListedRegionBytes || regions.size() >= kMaxListedRegions) return;
  regions.push_back({from, to});
}

void CloseZeroRun(Pass& p, int64_t at) {
  State& s = p.s;
  if (s.zeroRunStart < 0) return;
  const int64_t n = at - s.zeroRunStart;
  if (n >= kMinZeroRun) {
    p.Problem(ProblemKind::kZeroFilled, s.zeroRunStart, s.lastMediaMs,
              FormatBytes(n) + " of zeros, a region never written (as after a power loss)");
  }
  s.zeroRunStart = -1;
}

void EndResync(Pass& p, int64_t at) {
  State& s = p.s;
  CloseZeroRun(p, at);
  const int64_t n = at - s.resyncFrom;
  s.facts.damage.bytesSkipped += n;
  ++s.facts.damage.resyncs;
  ListRegion(p, s.resyncFrom, at);
  p.Problem(ProblemKind::kResync, s.resyncFrom, s.lastMediaMs,
            "skipped " + FormatBytes(n) + (n == 1 ? " that holds" : " that hold") +
                " no tag; tags go on at offset " + std::to_string(at));
  s.phase = State::Phase::kTags;
  s.pos = at;
}

// The bytes from the search's start to the end hold no tag.
void NoTagToTheEnd(Pass& p) {
  State& s = p.s;
  CloseZeroRun(p, p.S());
  const int64_t n = p.S() - s.resyncFrom;
  s.facts.damage.trailingBytes += n;
  s.facts.damage.bytesSkipped += n;
  ListRegion(p, s.resyncFrom, p.S());
  std::string text = s.facts.file.tags == 1
                         ? "the file is unreadable after its first tag: the last "
                     : s.facts.file.tags == 0 ? "the file is unreadable: its "
                                              : "the last ";
  text += FormatBytes(n) + (n == 1 ? " holds no tag" : " hold no tag");
  if (s.searchAbandoned) text += " that was found (not all of them were searched)";
  p.Problem(ProblemKind::kTrailingBytes, s.resyncFrom, s.lastMediaMs, std::move(text));
  s.phase = State::Phase::kTags;
  s.pos = p.S();
}

// Where the chain of PreviousTagSize fields that ends the file starts, past
// `after`: the first of the file's last tags. -1 when the end is no chain.
int64_t LastTagsStart(Pass& p, int64_t after) {
  int64_t end = p.S();
  int64_t first = -1;
  for (int i = 0; i < kLastTagsFollowed && p.S() - end < kLastTagsWindow; ++i) {
    const uint8_t* field = p.r.Get(end - kPrevSizeBytes, kPrevSizeBytes);
    if (!field) break;
    const int64_t tagAt = end - kPrevSizeBytes - ReadU32(field);
    if (tagAt <= after) break;
    const uint8_t* header = p.r.Get(tagAt, kTagHeaderBytes + 1);
    if (!header) break;
    const TagHeader tag = ParseTagHeader(header);
    if (!StrictlyPlausibleTag(tag, {header + kTagHeaderBytes, 1}) ||
        tagAt + kTagHeaderBytes + tag.dataSize + kPrevSizeBytes != end) {
      break;
    }
    first = tagAt;
    end = tagAt;
  }
  return first;
}

// The search has cost what it may: it goes on at the file's last tags, or
// gives up on what is left.
bool Abandon(Pass& p) {
  State& s = p.s;
  const int64_t resume = LastTagsStart(p, s.scanPos);
  if (!s.searchAbandoned) {
    s.searchAbandoned = true;
    const int64_t left = (resume >= 0 ? resume : p.S()) - s.scanPos;
    p.Problem(ProblemKind::kResync, s.scanPos, s.lastMediaMs,
              "no tag in " + FormatBytes(s.scanPos - s.resyncFrom) + "; the next " +
                  FormatBytes(left) +
                  (resume >= 0 ? " were not searched, up to the file's last tags"
                               : " were not searched"));
  }
  if (resume < 0) {
    s.scanPos = p.S();
    return false;
  }
  CloseZeroRun(p, s.scanPos);
  EndResync(p, resume);
  return true;
}

// Where the header says the tags start, a tag whose header and first body
// byte make sense and which the file holds whole: read as a tag although
// nothing after it is, since nothing else in the file is.
bool LoneFirstTag(Pass& p, TagView* view) {
  State& s = p.s;
  if (s.facts.file.tags != 0 || s.resyncFrom != s.firstTagAt) return false;
  const auto peeked = Peek(p, s.resyncFrom);
  if (!peeked) return false;
  TagHeader tag = peeked->tag;
  if (s.resyncFrom + kTagHeaderBytes + tag.dataSize > p.S()) return false;
  // Its stream id may be as damaged as what follows it.
  tag.streamId = 0;
  if (!StrictlyPlausibleTag(tag, peeked->body) || peeked->body.empty()) return false;
  view->tag = peeked->tag;
  view->bodyBytes = peeked->body.size();
  std::copy(peeked->body.begin(), peeked->body.end(), view->body.begin());
  view->prev = -1;
  return true;
}

}  // namespace

void StartResync(Pass& p, int64_t at) {
  State& s = p.s;
  s.phase = State::Phase::kResync;
  s.resyncFrom = at;
  s.scanPos = at + 1;
  const uint8_t* b = p.r.Get(at, 1);
  s.zeroRunStart = (b && *b == 0) ? at : -1;
}

ScanResult Scan(Pass& p, const WalkBudget& budget, int64_t progressFrom, TagView* lone) {
  State& s = p.s;
  while (s.scanPos < p.S()) {
    if (budget.cancel && budget.cancel->load(std::memory_order_relaxed)) {
      return ScanResult::kCancelled;
    }
    if (budget.maxBytes > 0 && s.scanPos - progressFrom >= budget.maxBytes) {
      return ScanResult::kBudget;
    }
    if (s.searchAbandoned || s.searchWork > SearchAllowance(s)) {
      if (Abandon(p)) return ScanResult::kFound;
      break;
    }
    const int64_t n = std::min(kScanChunk, p.S() - s.scanPos);
    const uint8_t* bytes = p.r.Get(s.scanPos, n);
    if (!bytes) {
      if (p.r.failed()) return ScanResult::kError;
      continue;  // the file shrank; S() says where it ends now
    }
    for (int64_t i = 0; i < n; ++i) {
      const uint8_t b = bytes[i];
      const int64_t at = s.scanPos + i;
      if (b == 0) {
        if (s.zeroRunStart < 0) s.zeroRunStart = at;
        // A run of zeros holds no tag: to its end at the speed of memory.
        i = FirstNonZero(bytes, i, n) - 1;
        continue;
      }
      ++s.searchWork;
      CloseZeroRun(p, at);
      if (!MaybeTagStart(b)) continue;
      // Cheap tests on the bytes in hand before any further read.
      if (b == 'F') {
        if (i + 4 <= n && std::memcmp(bytes + i, "FLV\x01", 4) != 0) continue;
      } else if (i + kTagHeaderBytes <= n && (bytes[i + 8] | bytes[i + 9] | bytes[i + 10]) != 0) {
        continue;
      }
      Verdict verdict;
      if (b == 'F') {
        verdict = GluedHeaderAt(p, at) ? Verdict::kTag
                  : (!p.finalPass && p.S() - at < kFileHeaderBytes + kPrevSizeBytes)
                      ? Verdict::kWait
                      : Verdict::kNoTag;
      } else {
        TagView view;
        verdict = Evaluate(p, at, true, &view);
      }
      if (verdict == Verdict::kTag || verdict == Verdict::kCut) {
        EndResync(p, at);
        return ScanResult::kFound;
      }
      if (verdict == Verdict::kWait) {
        if (p.r.failed()) return ScanResult::kError;
        s.scanPos = at;
        return ScanResult::kWait;
      }
      // Evaluate() may have moved the reader's window.
      bytes = p.r.Get(s.scanPos, n);
      if (!bytes) return p.r.failed() ? ScanResult::kError : ScanResult::kWait;
    }
    s.scanPos += n;
    // Zeros up to here: a hole, if the file system knows of one, is stepped
    // over whole.
    if (s.zeroRunStart >= 0 && s.scanPos < p.S()) {
      s.scanPos = std::clamp(p.source.NextData(s.scanPos), s.scanPos, p.S());
    }
  }
  if (!p.finalPass) return ScanResult::kWait;
  // Nothing more that is a tag: the rest of the file is trailing bytes,
  // unless the only thing that could be a tag is the one the header points at.
  if (LoneFirstTag(p, lone)) return ScanResult::kLoneTag;
  NoTagToTheEnd(p);
  return ScanResult::kEnd;
}

void AfterLoneTag(Pass& p, int64_t from) {
  State& s = p.s;
  s.resyncFrom = std::min(from, p.S());
  s.zeroRunStart = -1;
  if (s.resyncFrom < p.S()) {
    NoTagToTheEnd(p);
  } else {
    s.phase = State::Phase::kTags;
    s.pos = p.S();
  }
}

}  // namespace flv_reader::walk
