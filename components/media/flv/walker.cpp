#include "media/flv/walker.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "media/flv/flv_format.h"
#include "media/flv/text_format.h"
#include "media/flv/walk_checks.h"
#include "media/flv/walk_edges.h"
#include "media/flv/walk_reader.h"
#include "media/flv/walk_resync.h"
#include "media/flv/walk_script.h"
#include "media/flv/walk_state.h"
#include "media/flv/walk_streams.h"
#include "media/flv/walk_tags.h"

namespace flv_reader {
namespace {

using walk::Pass;
using walk::State;
using walk::Verdict;

void ChooseReading(Pass& p) {
  // Every 1024 tags: large tags are read header by header, small ones
  // through the large buffer.
  State& s = p.s;
  if (s.strideFrom >= 0) {
    p.r.Sparse((s.pos - s.strideFrom) / 1024 > p.o.sparseTagStride);
  }
  s.strideFrom = s.pos;
}

void Accept(Pass& p, int64_t at, const walk::TagView& view) {
  Facts& f = p.s.facts;
  const TagHeader& tag = view.tag;
  ++f.file.tags;
  f.damage.lastTagOffset = at;
  const int64_t end = at + kTagHeaderBytes + tag.dataSize;
  if (view.prev >= 0) walk::CheckPrevSize(p, end, static_cast<uint32_t>(view.prev), tag);
  if (tag.encrypted() && tag.type != kScriptTag) {
    // An encrypted body tells nothing; it still counts toward its stream.
    StreamFacts& stream = tag.type == kAudioTag ? f.streams.audio : f.streams.video;
    ++stream.tags;
    stream.payloadBytes += tag.dataSize;
    return;
  }
  switch (tag.type) {
    case kAudioTag:
      walk::OnAudio(p, at, tag, view.Body());
      break;
    case kVideoTag:
      walk::OnVideo(p, at, tag, view.Body());
      break;
    default:
      walk::OnScript(p, at, tag);
      break;
  }
}

WalkStatus Go(Pass& p, const WalkBudget& budget) {
  State& s = p.s;
  s.atEnd = false;
  if (s.phase == State::Phase::kNotFlv) return WalkStatus::kNotFlv;
  if (s.phase == State::Phase::kHeader) {
    if (auto status = walk::ReadHeader(p)) return *status;
    // Only a file's own header says where a tag must be.
    const bool ownHeader = p.o.startOffset < 0 && p.source.FirstHeld() == 0;
    if (ownHeader && s.phase == State::Phase::kTags) s.firstTagAt = s.pos;
  }
  const int64_t progressFrom = s.Progress();
  int64_t tagsRead = 0;
  while (true) {
    if (p.r.failed()) return p.ReadFailed();
    if (budget.cancel && budget.cancel->load(std::memory_order_relaxed)) {
      return WalkStatus::kCancelled;
    }
    if ((budget.maxTags > 0 && tagsRead >= budget.maxTags) ||
        (budget.maxBytes > 0 && s.Progress() - progressFrom >= budget.maxBytes)) {
      return WalkStatus::kBudgetSpent;
    }
    if (s.phase == State::Phase::kResync) {
      walk::TagView lone;
      switch (walk::Scan(p, budget, progressFrom, &lone)) {
        case walk::ScanResult::kFound:
          continue;
        case walk::ScanResult::kEnd:
          break;
        case walk::ScanResult::kLoneTag:
          Accept(p, s.resyncFrom, lone);
          walk::AfterLoneTag(p,
                             s.resyncFrom + kTagHeaderBytes + lone.tag.dataSize + kPrevSizeBytes);
          break;
        case walk::ScanResult::kWait:
          s.atEnd = true;
          return WalkStatus::kEndOfData;
        case walk::ScanResult::kCancelled:
          return WalkStatus::kCancelled;
        case walk::ScanResult::kBudget:
          return WalkStatus::kBudgetSpent;
        case walk::ScanResult::kError:
          return p.ReadFailed();
      }
    }
    if (s.pos >= p.S()) {
      if (p.r.failed()) return p.ReadFailed();
      s.atEnd = true;
      return WalkStatus::kEndOfData;
    }
    if (walk::GluedHeaderAt(p, s.pos)) {
      walk::SecondHeader(p, s.pos);
      continue;
    }
    if (walk::MayBeGluedHeader(p, s.pos)) {
      s.atEnd = true;
      return WalkStatus::kEndOfData;
    }
    walk::TagView view;
    const TagHeader& tag = view.tag;
    switch (walk::Evaluate(p, s.pos, false, &view)) {
      case Verdict::kTag:
        Accept(p, s.pos, view);
        s.pos = std::min(s.pos + kTagHeaderBytes + tag.dataSize + kPrevSizeBytes, p.S());
        ++tagsRead;
        if ((tagsRead & 1023) == 0) ChooseReading(p);
        break;
      case Verdict::kCut:
        walk::CutAtEnd(p, s.pos, tag);
        s.pos = p.S();
        break;
      case Verdict::kWait:
        if (p.r.failed()) return p.ReadFailed();
        s.atEnd = true;
        return WalkStatus::kEndOfData;
      case Verdict::kNoTag:
        if (p.r.failed()) return p.ReadFailed();
        if (p.finalPass && p.S() - s.pos < kTagHeaderBytes) {
          walk::BytesAtEnd(p, s.pos);
          s.pos = p.S();
        } else {
          walk::StartResync(p, s.pos);
        }
        break;
    }
  }
}

// A multitrack stream's tracks, the main one first; a stream of one track
// lists none. Each track counts the tags that carried it.
void ListTracks(StreamFacts& main, const walk::StreamState& mainState,
                std::vector<walk::TrackState>& others, bool video, const WalkOptions& o,
                std::vector<StreamFacts>& out) {
  main.trackId = std::max(mainState.mainTrack, 0);
  if (others.empty()) return;
  out.push_back(main);
  out.back().tags = mainState.trackTags;
  for (walk::TrackState& t : others) {
    walk::DeriveStream(t.facts, t.state, video, Metadata{}, o.leapMs);
    t.facts.tags = t.state.trackTags;
    out.push_back(std::move(t.facts));
  }
}

Facts Build(State& s, walk::Reader& r, const WalkOptions& o, bool complete) {
  Facts f = std::move(s.facts);
  f.file.size = s.size;
  if (!f.file.isFlv) {
    f.file.coverage = s.phase == State::Phase::kNotFlv ? Coverage::kComplete : Coverage::kNone;
    return f;
  }
  f.file.coverage = complete ? Coverage::kComplete : Coverage::kPartial;
  f.file.bytesWalked = std::min(s.Progress(), s.size);
  walk::DeriveStream(f.streams.audio, s.audio, false, f.scripts.metadata, o.leapMs);
  walk::DeriveStream(f.streams.video, s.video, true, f.scripts.metadata, o.leapMs);
  ListTracks(f.streams.audio, s.audio, s.audioTracks, false, o, f.streams.audioTracks);
  ListTracks(f.streams.video, s.video, s.videoTracks, true, o, f.streams.videoTracks);
  UpdateTimeline(f);
  const Metadata& m = f.scripts.metadata;
  if (f.streams.video.present() && f.streams.video.sizeFrom == SizeFrom::kNone && m.width &&
      m.height && *m.width > 0 && *m.height > 0 && !AbsurdPictureSide(*m.width) &&
      !AbsurdPictureSide(*m.height)) {
    f.streams.video.width = static_cast<int>(*m.width);
    f.streams.video.height = static_cast<int>(*m.height);
    f.streams.video.sizeFrom = SizeFrom::kMetadata;
  }
  if (!s.videoIndex.entries.empty()) {
    f.index.entries = std::move(s.videoIndex.entries);
    f.index.kind = IndexKind::kVideoKeyframes;
  } else if (!s.audioIndex.entries.empty()) {
    f.index.entries = std::move(s.audioIndex.entries);
    f.index.kind = IndexKind::kAudio;
  }
  PrevTagSizeSummary& sizes = f.damage.prevTagSizes;
  sizes.allWrongBySame = sizes.wrong >= 2 && sizes.wrong == sizes.checked && s.wrongDeltasSame;
  sizes.delta = sizes.wrong > 0 && s.wrongDeltasSame ? s.firstWrongDelta : 0;
  if (!complete) return f;
  if (f.file.tags == 0) {
    const int64_t after = std::max<int64_t>(0, f.file.size - kFileHeaderBytes);
    f.problems.Add({ProblemKind::kHeaderOnly, -1, -1,
                    after == 0 ? "the file holds only its FLV header, and no tags"
                               : "no tag in the " + FormatBytes(after) + " after the header"});
  }
  walk::CheckHeaderFlags(f);
  walk::CheckClaims(f);
  walk::CheckClaimedIndex(f, r);
  return f;
}

}  // namespace

Walker::Walker(const ByteSource& source, WalkOptions options)
    : source_(source),
      options_(options),
      state_(std::make_unique<walk::State>(options.problemsPerKind)),
      reader_(std::make_unique<walk::Reader>(source, options.readAheadBytes)) {}

Walker::~Walker() = default;

WalkStatus Walker::Walk(const WalkBudget& budget) {
  const int64_t size = source_.Size();
  if (size < 0) return WalkStatus::kReadError;
  // A writer may rewrite bytes already read (a header's duration when it
  // finishes): nothing read before this call is reused.
  reader_->Reset(size);
  Pass pass{*state_, *reader_, options_, source_, false};
  const WalkStatus status = Go(pass, budget);
  state_->size = reader_->size();
  return status;
}

Facts Walker::Snapshot() const {
  State copy = *state_;
  walk::Reader reader(source_, options_.readAheadBytes);
  reader.Reset(copy.size);
  const bool complete = copy.atEnd || copy.phase == State::Phase::kNotFlv;
  if (copy.atEnd) {
    Pass pass{copy, reader, options_, source_, true};
    Go(pass, {});
  }
  return Build(copy, reader, options_, complete);
}

int64_t Walker::Position() const { return state_->Progress(); }

bool Walker::MediaSeen() const {
  return state_->facts.streams.audio.tags + state_->facts.streams.video.tags > 0;
}

Facts WalkAll(const ByteSource& source, const WalkOptions& options) {
  Walker walker(source, options);
  walker.Walk();
  return walker.Snapshot();
}

}  // namespace flv_reader
