#include "media/flv/walk_tags.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace flv_reader::walk {
namespace {

std::string Signed(int64_t n) { return (n > 0 ? "+" : "") + std::to_string(n); }

bool PrevMatches(const Pass& p, uint32_t prev, uint32_t dataSize) {
  const int64_t right = int64_t{dataSize} + kTagHeaderBytes;
  return prev == right || (p.s.deltaLearned && int64_t{prev} == right + p.s.learnedDelta);
}

// Whether `need` more tags follow `at` in a chain, each strictly plausible.
Verdict Follows(Pass& p, int64_t at, int need) {
  if (at == p.S()) return p.finalPass ? Verdict::kTag : Verdict::kWait;
  if (GluedHeaderAt(p, at)) return Verdict::kTag;
  if (MayBeGluedHeader(p, at)) return Verdict::kWait;
  const auto peeked = Peek(p, at);
  // Fewer bytes than a header: trailing bytes, or a tag still arriving.
  if (!peeked) return p.finalPass ? Verdict::kTag : Verdict::kWait;
  if (!StrictlyPlausibleTag(peeked->tag, peeked->body)) return Verdict::kNoTag;
  const int64_t end = at + kTagHeaderBytes + peeked->tag.dataSize;
  if (end + kPrevSizeBytes > p.S()) return p.finalPass ? Verdict::kTag : Verdict::kWait;
  if (need == 0) return Verdict::kTag;
  const uint32_t dataSize = peeked->tag.dataSize;
  const uint8_t* prev = p.r.Get(end, kPrevSizeBytes);
  if (!prev) return Verdict::kWait;
  if (PrevMatches(p, ReadU32(prev), dataSize)) return Verdict::kTag;
  return Follows(p, end + kPrevSizeBytes, need - 1);
}

}  // namespace

std::optional<Peeked> Peek(Pass& p, int64_t at) {
  const int64_t room = p.S() - at - kTagHeaderBytes;
  if (room < 0) return std::nullopt;
  const uint8_t* bytes = p.r.Get(at, kTagHeaderBytes);
  if (!bytes) return std::nullopt;
  Peeked peeked;
  peeked.tag = ParseTagHeader(bytes);
  const int64_t bodyBytes = std::min({room, kBodyPeek, int64_t{peeked.tag.dataSize}});
  bytes = p.r.Get(at, kTagHeaderBytes + bodyBytes);
  if (!bytes) return std::nullopt;
  peeked.body = {bytes + kTagHeaderBytes, static_cast<size_t>(bodyBytes)};
  return peeked;
}

bool MayBeGluedHeader(Pass& p, int64_t at) {
  const int64_t n = std::min<int64_t>(p.S() - at, 4);
  if (p.finalPass || n <= 0 || p.S() - at >= kFileHeaderBytes + kPrevSizeBytes) return false;
  const uint8_t* bytes = p.r.Get(at, n);
  return bytes && std::memcmp(bytes, "FLV\x01", static_cast<size_t>(n)) == 0;
}

bool GluedHeaderAt(Pass& p, int64_t at) {
  const int64_t n = kFileHeaderBytes + kPrevSizeBytes;
  const uint8_t* bytes = p.r.Get(at, n);
  return bytes && bytes[0] == 'F' && LooksLikeGluedHeader({bytes, static_cast<size_t>(n)});
}

Verdict Evaluate(Pass& p, int64_t at, bool strict, TagView* out) {
  const auto peeked = Peek(p, at);
  if (!peeked) return p.finalPass ? Verdict::kNoTag : Verdict::kWait;
  const TagHeader tag = peeked->tag;
  out->tag = tag;
  out->bodyBytes = peeked->body.size();
  std::copy(peeked->body.begin(), peeked->body.end(), out->body.begin());
  out->prev = -1;
  const bool strictOk = StrictlyPlausibleTag(tag, peeked->body);
  if (strict ? !strictOk : !PlausibleTag(tag)) return Verdict::kNoTag;
  const int64_t end = at + kTagHeaderBytes + tag.dataSize;
  if (end > p.S()) {
    if (!p.finalPass) return Verdict::kWait;
    // A tag the end of the file cuts short, if it looks like the tags before.
    if (!strictOk) return Verdict::kNoTag;
    // After damage, only where the timestamps go on from the tags before.
    if (strict && (p.s.lastMediaMs < 0 ||
                   std::llabs(int64_t{tag.timestamp} - p.s.lastMediaMs) > p.o.leapMs)) {
      return Verdict::kNoTag;
    }
    return Verdict::kCut;
  }
  if (end + kPrevSizeBytes > p.S()) return p.finalPass ? Verdict::kTag : Verdict::kWait;
  const uint8_t* prev = p.r.Get(end, kPrevSizeBytes);
  if (!prev) return Verdict::kWait;
  out->prev = ReadU32(prev);
  if (PrevMatches(p, ReadU32(prev), tag.dataSize)) return Verdict::kTag;
  return Follows(p, end + kPrevSizeBytes, 1);
}

void CheckPrevSize(Pass& p, int64_t fieldAt, uint32_t prev, const TagHeader& tag) {
  State& s = p.s;
  PrevTagSizeSummary& sum = s.facts.damage.prevTagSizes;
  ++sum.checked;
  const int64_t right = int64_t{tag.dataSize} + kTagHeaderBytes;
  const int64_t delta = int64_t{prev} - right;
  if (delta == 0) {
    s.deltaRun = 0;
    return;
  }
  if (++sum.wrong == 1) {
    s.firstWrongDelta = delta;
  } else if (delta != s.firstWrongDelta) {
    s.wrongDeltasSame = false;
  }
  if (delta == s.deltaCandidate && s.deltaRun > 0) {
    if (++s.deltaRun >= 2 && !s.deltaLearned) {
      s.deltaLearned = true;
      s.learnedDelta = delta;
    }
  } else {
    s.deltaCandidate = delta;
    s.deltaRun = 1;
  }
  p.Problem(ProblemKind::kPrevTagSize, fieldAt, tag.timestamp,
            "PreviousTagSize says " + std::to_string(prev) + "; the tag before it is " +
                std::to_string(right) + " bytes (" + Signed(delta) + ")");
}

}  // namespace flv_reader::walk
