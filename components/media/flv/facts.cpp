#include "media/flv/facts.h"

#include <algorithm>
#include <cmath>

#include "media/flv/text_format.h"

namespace flv_reader {
namespace {

// Over three years: no recording is that long, and 2147483630 (a recorder
// interrupted before it wrote the real duration) is far past it.
constexpr double kLongestDurationSeconds = 1e8;
constexpr double kLargestPictureSide = 16384;

}  // namespace

std::string_view ProblemKindName(ProblemKind kind) {
  switch (kind) {
    case ProblemKind::kNotFlv:
      return "not FLV";
    case ProblemKind::kReadError:
      return "read error";
    case ProblemKind::kHeader:
      return "file header";
    case ProblemKind::kDataOffset:
      return "data offset wrong";
    case ProblemKind::kHeaderOnly:
      return "no tags";
    case ProblemKind::kLastTagCut:
      return "last tag cut";
    case ProblemKind::kTrailingBytes:
      return "trailing bytes";
    case ProblemKind::kPrevTagSize:
      return "PreviousTagSize wrong";
    case ProblemKind::kResync:
      return "bytes skipped";
    case ProblemKind::kZeroFilled:
      return "zero-filled region";
    case ProblemKind::kSecondHeader:
      return "second FLV header";
    case ProblemKind::kTimestampLeap:
      return "timestamps leap ahead";
    case ProblemKind::kTimestampBackwards:
      return "timestamps step back";
    case ProblemKind::kCodecChange:
      return "codec change";
    case ProblemKind::kScriptAbsurd:
      return "absurd script data";
    case ProblemKind::kScriptMalformed:
      return "malformed script data";
    case ProblemKind::kMetadataAbsurd:
      return "absurd metadata";
    case ProblemKind::kDurationDisagrees:
      return "duration claim wrong";
    case ProblemKind::kMetadataDisagrees:
      return "metadata claim wrong";
    case ProblemKind::kKeyframeIndexDisagrees:
      return "keyframe index wrong";
    case ProblemKind::kTagBody:
      return "tag body damaged";
    case ProblemKind::kCodecConfig:
      return "codec configuration";
    case ProblemKind::kCount:
      break;
  }
  return "problem";
}

void ProblemList::Add(Problem problem) {
  const size_t kind = static_cast<size_t>(problem.kind);
  if (kind >= counts_.size()) return;
  if (counts_[kind]++ < static_cast<int64_t>(keepPerKind_)) kept_.push_back(std::move(problem));
}

int64_t ProblemList::Total() const {
  int64_t total = 0;
  for (const int64_t n : counts_) total += n;
  return total;
}

const Problem* ProblemList::First(ProblemKind kind) const {
  for (const Problem& p : kept_) {
    if (p.kind == kind) return &p;
  }
  return nullptr;
}

void UpdateTimeline(Facts& f) {
  f.clock.firstMs = f.clock.lastMs = f.clock.endMs = -1;
  for (const StreamFacts* s : {&f.streams.audio, &f.streams.video}) {
    if (s->frames == 0 || s->firstMs < 0) continue;
    f.clock.firstMs = f.clock.firstMs < 0 ? s->firstMs : std::min(f.clock.firstMs, s->firstMs);
    f.clock.lastMs = std::max(f.clock.lastMs, s->maxMs);
    // Timestamps have 32 bits; so much for a frame keeps the sum in range.
    const int64_t frame = std::clamp<int64_t>(ClampedRound(s->frameMs), 0, int64_t{1} << 32);
    f.clock.endMs = std::max(f.clock.endMs, std::max(s->maxMs, s->maxShownMs) + frame);
  }
  f.clock.durationMs = f.clock.firstMs >= 0 ? f.clock.endMs - f.clock.firstMs : 0;
  f.clock.contentMs = std::max(f.streams.audio.contentMs, f.streams.video.contentMs);
}

bool AbsurdDuration(double seconds) {
  return !std::isfinite(seconds) || seconds < 0 || seconds > kLongestDurationSeconds;
}

bool AbsurdPictureSide(double pixels) {
  return !std::isfinite(pixels) || pixels < 0 || pixels > kLargestPictureSide ||
         pixels != std::floor(pixels);
}

bool DurationAgrees(const Facts& facts, double seconds) {
  if (facts.streams.audio.frames + facts.streams.video.frames == 0 || AbsurdDuration(seconds))
    return false;
  const double claimMs = seconds * 1000;
  const auto near = [&](int64_t ms) {
    const double measured = static_cast<double>(ms);
    return std::fabs(claimMs - measured) <= std::max(1000.0, 0.05 * measured);
  };
  return near(facts.clock.durationMs) || (facts.clock.endMs >= 0 && near(facts.clock.endMs));
}

LengthChoice ChooseLength(const Facts& facts) {
  LengthChoice choice;
  choice.startMs = std::max<int64_t>(facts.clock.firstMs, 0);
  const bool measured = facts.streams.audio.frames + facts.streams.video.frames > 0;
  const std::optional<double>& claim = facts.scripts.metadata.duration;
  auto useMeasured = [&](std::string why) {
    choice.ms = facts.clock.durationMs;
    choice.source = LengthSource::kMeasured;
    choice.why = std::move(why);
    return choice;
  };
  // Tags read to the end, or the end's own tags read: where the last frame
  // ends is known, whatever onMetaData says.
  const bool toTheEnd =
      facts.file.coverage == Coverage::kComplete || facts.file.coverage == Coverage::kQuick;
  if (!claim) {
    if (!measured) return choice;
    return useMeasured("onMetaData gives no duration");
  }
  const double seconds = *claim;
  if (AbsurdDuration(seconds)) {
    if (!measured) return choice;
    return useMeasured("onMetaData's duration " + FormatClaim(seconds) + " s is absurd");
  }
  if (seconds == 0) {
    if (!measured) return choice;
    return useMeasured("onMetaData's duration is 0");
  }
  const int64_t claimedMs = ClampedRound(seconds * 1000);
  if (measured && toTheEnd) {
    return useMeasured(DurationAgrees(facts, seconds)
                           ? "the tags end where onMetaData's duration says"
                           : "onMetaData claims " + FormatLength(claimedMs));
  }
  // Part of the file read: the claim, unless what is read already outlasts it.
  if (measured && static_cast<double>(facts.clock.durationMs - claimedMs) >
                      std::max(1000.0, 0.05 * static_cast<double>(claimedMs))) {
    return useMeasured("onMetaData claims " + FormatLength(claimedMs) + ", less than read so far");
  }
  choice.ms = claimedMs;
  choice.source = LengthSource::kClaimed;
  choice.why = measured ? "the file is not read to its end yet" : "nothing to measure";
  return choice;
}

std::vector<HiddenTag> ScriptTagsToHide(const Facts& facts) {
  std::vector<HiddenTag> hide = facts.scripts.hidden;
  const Metadata& m = facts.scripts.metadata;
  const bool claimsAbsurd = (m.duration && AbsurdDuration(*m.duration)) ||
                            (m.width && AbsurdPictureSide(*m.width)) ||
                            (m.height && AbsurdPictureSide(*m.height));
  if (claimsAbsurd && m.hideMark) {
    const bool listed = std::any_of(hide.begin(), hide.end(), [&](const HiddenTag& h) {
      return h.tagOffset == m.hideMark->tagOffset;
    });
    if (!listed) hide.push_back(*m.hideMark);
  }
  std::sort(hide.begin(), hide.end(),
            [](const HiddenTag& a, const HiddenTag& b) { return a.tagOffset < b.tagOffset; });
  // Two marks for one tag would patch its type byte twice, the second time
  // with the first patch's result as the byte it expects.
  hide.erase(std::unique(
                 hide.begin(), hide.end(),
                 [](const HiddenTag& a, const HiddenTag& b) { return a.tagOffset == b.tagOffset; }),
             hide.end());
  return hide;
}

}  // namespace flv_reader
