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
  s.facts.bytesSkipped += n;
  ++s.facts.resyncs;
  p.Problem(
      ProblemKind::kResync, s.resyncFrom, s.lastMediaMs,
      FormatBytes(n) + " that are no tag skipped; tags go on at offset " + std::to_string(at));
  s.phase = State::Phase::kTags;
  s.pos = at;
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

ScanResult Scan(Pass& p, const WalkBudget& budget, int64_t progressFrom) {
  State& s = p.s;
  while (s.scanPos < p.S()) {
    if (budget.cancel && budget.cancel->load(std::memory_order_relaxed)) {
      return ScanResult::kCancelled;
    }
    if (budget.maxBytes > 0 && s.scanPos - progressFrom >= budget.maxBytes) {
      return ScanResult::kBudget;
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
        continue;
      }
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
  }
  if (!p.finalPass) return ScanResult::kWait;
  // Nothing more that is a tag: the rest of the file is trailing bytes.
  CloseZeroRun(p, p.S());
  const int64_t n = p.S() - s.resyncFrom;
  s.facts.trailingBytes += n;
  s.facts.bytesSkipped += n;
  p.Problem(ProblemKind::kTrailingBytes, s.resyncFrom, s.lastMediaMs,
            FormatBytes(n) + " after the last tag are no tag");
  s.phase = State::Phase::kTags;
  s.pos = p.S();
  return ScanResult::kEnd;
}

}  // namespace flv_reader::walk
