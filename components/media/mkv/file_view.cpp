#include "media/mkv/file_view.h"

#include <algorithm>
#include <cstring>

namespace mkv {
namespace {

constexpr int64_t kWindowBytes = int64_t{256} << 10;
// Reader checkpoints: at most this many, at least this far apart.
constexpr size_t kMaxCheckpoints = 4096;
constexpr int64_t kCheckpointSpacing = int64_t{4} << 20;
// A multitrack tag or a configuration record is read whole up to this size;
// past it, it is left out.
constexpr uint32_t kMaxWholeBody = uint32_t{16} << 20;

// The end of the tag at `offset`, its PreviousTagSize included; -1 when its
// header cannot be read.
int64_t TagEnd(const flv_reader::ByteSource& source, int64_t offset) {
  uint8_t head[flv_reader::kTagHeaderBytes];
  if (source.ReadAt(offset, head, sizeof head) != int64_t(sizeof head)) return -1;
  return offset + int64_t(TagUnitBytes(flv_reader::ParseTagHeader(head)));
}

}  // namespace

// The file's bytes around the tags being mapped, read a window at a time.
struct MatroskaReader::Window {
  std::vector<uint8_t> bytes;
  int64_t at = -1;
  // Up to `length` bytes from `offset`, through the window; how many are at
  // hand (fewer at the file's end), -1 on a read error.
  int64_t Get(const flv_reader::ByteSource& source, int64_t offset, int64_t length,
              const uint8_t** data) {
    if (at < 0 || offset < at || offset + length > at + int64_t(bytes.size())) {
      bytes.resize(size_t(std::max(kWindowBytes, length)));
      const int64_t got = source.ReadAt(offset, bytes.data(), int64_t(bytes.size()));
      if (got < 0) {
        at = -1;
        return -1;
      }
      bytes.resize(size_t(got));
      at = offset;
    }
    *data = bytes.data() + (offset - at);
    return std::min(length, at + int64_t(bytes.size()) - offset);
  }
  // Copies `length` bytes from `offset` if the window holds them all; how
  // many (0 when it does not).
  int64_t Copy(int64_t offset, uint8_t* out, int64_t length) const {
    if (at < 0 || offset < at || offset + length > at + int64_t(bytes.size())) return 0;
    std::memcpy(out, bytes.data() + (offset - at), size_t(length));
    return length;
  }
};

std::shared_ptr<const FileView> FileView::Make(std::shared_ptr<const flv_reader::ByteSource> source,
                                               const flv_reader::Facts& facts,
                                               const Routes& routes) {
  if (!routes.video.playable && !routes.audio.playable) return nullptr;
  auto view = std::shared_ptr<FileView>(new FileView);
  view->routes_ = routes;
  view->dataStart_ =
      std::max<int64_t>(facts.file.header.dataOffset, flv_reader::kFileHeaderBytes) + 4;
  // The Cues go where the walk that made the index ended: after the last
  // whole tag of a file walked to its end, or at its last index entry.
  int64_t cuesAt = view->dataStart_;
  if (facts.file.coverage == flv_reader::Coverage::kComplete && facts.damage.lastTagOffset >= 0) {
    cuesAt = facts.damage.lastTagCut && facts.damage.cutTagOffset > facts.damage.lastTagOffset
                 ? facts.damage.cutTagOffset
                 : TagEnd(*source, facts.damage.lastTagOffset);
  } else if (!facts.index.entries.empty()) {
    cuesAt = facts.index.entries.back().offset;
  }
  view->cuesAtFile_ = std::max(cuesAt, view->dataStart_);
  // The index must be of what the view plays: video keyframes for a
  // picture, one sound tag a second without one. Any other would put
  // Clusters (and Cues) where the picture cannot start.
  const bool indexFits = routes.video.playable
                             ? facts.index.kind == flv_reader::IndexKind::kVideoKeyframes
                             : facts.index.kind == flv_reader::IndexKind::kAudio;
  for (const flv_reader::IndexEntry& entry : facts.index.entries) {
    if (indexFits && entry.offset >= view->dataStart_) view->index_.push_back(entry);
  }
  std::sort(view->index_.begin(), view->index_.end(),
            [](const auto& a, const auto& b) { return a.offset < b.offset; });
  view->index_.erase(std::unique(view->index_.begin(), view->index_.end(),
                                 [](const auto& a, const auto& b) { return a.offset == b.offset; }),
                     view->index_.end());

  HeaderPlan plan;
  if (routes.video.playable) plan.tracks.push_back(routes.video.track);
  if (routes.audio.playable) plan.tracks.push_back(routes.audio.track);
  if (facts.file.coverage == flv_reader::Coverage::kComplete && facts.clock.durationMs > 0) {
    plan.durationMs = double(facts.clock.durationMs);
  }
  plan.cues = !view->index_.empty();
  // The header's size does not depend on where the Cues are: write it once
  // to learn the shift, then with the Cues' position.
  view->source_ = std::move(source);
  view->header_ = WriteHeader(plan);
  plan.cuesPosition = uint64_t(view->ToView(view->cuesAtFile_)) - SegmentDataStart();
  view->header_ = WriteHeader(plan);
  return view;
}

int64_t FileView::ToView(int64_t fileOffset) const {
  const int64_t shifted = fileOffset - dataStart_ + int64_t(header_.size());
  return fileOffset < cuesAtFile_ ? shifted : shifted + cuesBytes();
}

int64_t FileView::Size() const {
  const int64_t size = source_->Size();
  return ToView(std::max(size, cuesAtFile_));
}

MatroskaReader::MatroskaReader(std::shared_ptr<const FileView> view)
    : view_(std::move(view)), window_(std::make_unique<Window>()) {
  cues_.resize(view_->index().size());
}

MatroskaReader::~MatroskaReader() = default;

int64_t MatroskaReader::Read(int64_t offset, uint8_t* buffer, int64_t length) {
  int64_t done = 0;
  const int64_t header = view_->headerBytes();
  const int64_t cuesStart = view_->ToView(view_->cuesAtFile()) - view_->cuesBytes();
  const int64_t cuesEnd = cuesStart + view_->cuesBytes();
  while (done < length && offset >= 0) {
    int64_t got = 0;
    if (offset < header) {
      got = std::min(length - done, header - offset);
      std::memcpy(buffer + done, view_->header().data() + offset, size_t(got));
    } else if (offset >= cuesStart && offset < cuesEnd) {
      got = ReadCues(offset - cuesStart, buffer + done, std::min(length - done, cuesEnd - offset));
    } else {
      const int64_t file = offset < cuesStart ? offset - header + view_->dataStart()
                                              : offset - cuesEnd + view_->cuesAtFile();
      // Tags before the Cues stop at them.
      const int64_t limit = offset < cuesStart ? cuesStart - offset : length - done;
      got = ReadTags(file, buffer + done, std::min(length - done, limit));
    }
    if (got < 0) return done > 0 ? done : -1;
    if (got == 0) break;
    done += got;
    offset += got;
  }
  return done;
}

int64_t MatroskaReader::ReadCues(int64_t at, uint8_t* buffer, int64_t length) {
  Bytes bytes;
  int64_t from = 0;
  if (at < int64_t(kCuesHeaderBytes)) {
    PutCuesHeader(bytes, view_->index().size());
  } else {
    const size_t point = size_t(uint64_t(at) - kCuesHeaderBytes) / size_t(kCuePointBytes);
    from = int64_t(kCuesHeaderBytes) + int64_t(point) * int64_t(kCuePointBytes);
    PutCuePoint(bytes, Cue(point));
  }
  const int64_t n = std::min<int64_t>(length, from + int64_t(bytes.size()) - at);
  std::memcpy(buffer, bytes.data() + (at - from), size_t(n));
  return n;
}

std::optional<CuePoint> MatroskaReader::OwnCue(size_t index) {
  const flv_reader::IndexEntry& entry = view_->index()[index];
  Cursor cursor{entry.offset, {}};
  TagPiece piece;
  int64_t size = 0;
  if (!Step(cursor, piece, size) || !piece.clusterStarted) return std::nullopt;
  CuePoint point;
  point.timeMs = uint64_t(piece.clusterMs);
  point.track = piece.track;
  point.clusterPosition = uint64_t(view_->ToView(entry.offset)) - SegmentDataStart();
  return point;
}

CuePoint MatroskaReader::Cue(size_t index) {
  if (cues_[index]) return *cues_[index];
  // An entry whose tag starts no Cluster (a sequence header the index
  // named, a damaged tag): a nearby entry that does stands in for it.
  constexpr size_t kReach = 8;
  std::optional<CuePoint> point = OwnCue(index);
  for (size_t next = index + 1; !point && next < cues_.size() && next <= index + kReach; ++next) {
    point = OwnCue(next);
  }
  for (size_t back = 1; !point && back <= index && back <= kReach; ++back) {
    point = OwnCue(index - back);
  }
  if (!point) {
    point = CuePoint{};
    point->clusterPosition = uint64_t(view_->headerBytes()) - SegmentDataStart();
  }
  cues_[index] = point;
  return *point;
}

int64_t MatroskaReader::ReadTags(int64_t fileOffset, uint8_t* buffer, int64_t length) {
  int64_t done = 0;
  while (done < length) {
    if (!Locate(fileOffset + done)) break;
    const int64_t inPiece = fileOffset + done - pieceAt_;
    const int64_t head = int64_t(piece_.head.size());
    const int64_t payload = int64_t(piece_.payloadSize);
    const int64_t voidHead = int64_t(piece_.voidHead.size());
    int64_t got = 0;
    if (inPiece < head) {
      got = std::min(length - done, head - inPiece);
      std::memcpy(buffer + done, piece_.head.data() + inPiece, size_t(got));
    } else if (inPiece < head + payload) {
      const int64_t want = std::min(length - done, head + payload - inPiece);
      const int64_t from =
          pieceAt_ + flv_reader::kTagHeaderBytes + int64_t(piece_.payloadAt) + (inPiece - head);
      // Most frames are in the window the tag headers were read through.
      got = window_->Copy(from, buffer + done, want);
      if (got == 0) got = view_->source().ReadAt(from, buffer + done, want);
      if (got <= 0) {
        if (got < 0 && done == 0) return -1;
        break;
      }
    } else if (inPiece < head + payload + voidHead) {
      got = std::min(length - done, head + payload + voidHead - inPiece);
      std::memcpy(buffer + done, piece_.voidHead.data() + (inPiece - head - payload), size_t(got));
    } else {
      got = std::min(length - done, int64_t(piece_.Size()) - inPiece);
      std::memset(buffer + done, 0, size_t(got));
    }
    done += got;
  }
  if (done == 0 && readError_) return -1;
  return done;
}

bool MatroskaReader::Locate(int64_t fileOffset) {
  if (pieceAt_ >= 0 && fileOffset >= pieceAt_ && fileOffset < pieceAt_ + int64_t(piece_.Size())) {
    return true;
  }
  Cursor cursor = Start(fileOffset);
  TagPiece piece;
  int64_t size = 0;
  for (;;) {
    const int64_t at = cursor.offset;
    if (!Step(cursor, piece, size)) return false;
    if (piece.clusterStarted &&
        (checkpoints_.empty() || at >= checkpoints_.back().offset + kCheckpointSpacing)) {
      if (checkpoints_.size() < kMaxCheckpoints)
        checkpoints_.push_back({at, {true, piece.clusterMs}});
    }
    if (fileOffset < at + size) {
      piece_ = std::move(piece);
      pieceAt_ = at;
      cursor_ = cursor;
      return true;
    }
  }
}

MatroskaReader::Cursor MatroskaReader::Start(int64_t fileOffset) {
  // The nearest tag boundary at or before the offset whose state is known:
  // where the last read ended, a checkpoint, or an index entry that starts
  // a Cluster (its state is then its own); failing all, the first tag.
  Cursor best{view_->dataStart(), {}};
  if (cursor_.offset >= 0 && cursor_.offset <= fileOffset) best = cursor_;
  const auto checkpoint =
      std::upper_bound(checkpoints_.begin(), checkpoints_.end(), fileOffset,
                       [](int64_t offset, const Cursor& c) { return offset < c.offset; });
  if (checkpoint != checkpoints_.begin() && std::prev(checkpoint)->offset > best.offset) {
    best = *std::prev(checkpoint);
  }
  const auto& index = view_->index();
  auto entry = std::upper_bound(index.begin(), index.end(), fileOffset,
                                [](int64_t offset, const auto& e) { return offset < e.offset; });
  // A few tries back: an entry whose tag does not start a Cluster says
  // nothing of the state there.
  for (int tries = 0; tries < 4 && entry != index.begin(); ++tries) {
    --entry;
    if (entry->offset <= best.offset) break;
    Cursor probe{entry->offset, {}};
    TagPiece piece;
    int64_t size = 0;
    Cursor after = probe;
    if (Step(after, piece, size) && piece.clusterStarted) {
      // Stepping again from the entry with no Cluster open makes the same
      // piece: its own Cluster start does not depend on what came before.
      return probe;
    }
  }
  return best;
}

bool MatroskaReader::Step(Cursor& cursor, TagPiece& piece, int64_t& size) {
  // The Cues end the Cluster before them: the tags after them start anew.
  if (cursor.offset == view_->cuesAtFile()) cursor.state = {};
  waitingForTag_ = false;
  const flv_reader::ByteSource& source = view_->source();
  const int64_t fileSize = source.Size();
  const uint8_t* data = nullptr;
  const int64_t want = flv_reader::kTagHeaderBytes + int64_t(kBodyLead);
  const int64_t got = window_->Get(source, cursor.offset, want, &data);
  if (got < 0) {
    readError_ = true;
    return false;
  }
  flv_reader::TagHeader header;
  bool tag = false;
  if (got >= flv_reader::kTagHeaderBytes) {
    header = flv_reader::ParseTagHeader(data);
    tag = flv_reader::PlausibleTag(header);
  }
  if (!tag) {
    // Bytes that are no tag (damage, a second file header, the end of a
    // file cut short) become one Void up to the next tag the walk found.
    const int64_t next = NextKnownBoundary(cursor.offset);
    const int64_t end = next > cursor.offset ? next : fileSize;
    if (got < flv_reader::kTagHeaderBytes && next <= cursor.offset) {
      waitingForTag_ = got > 0;
      return false;
    }
    if (end - cursor.offset < 2) return false;
    piece = VoidPiece(uint64_t(end - cursor.offset));
    size = end - cursor.offset;
    cursor.offset = end;
    cursor.state = {};
    return true;
  }
  size = int64_t(TagUnitBytes(header));
  // Produced only once the file holds it whole.
  waitingForTag_ = cursor.offset + size > fileSize;
  if (waitingForTag_) return false;
  const int64_t lead = std::min<int64_t>(header.dataSize, int64_t(kBodyLead));
  TagInput input;
  input.offset = cursor.offset;
  input.header = header;
  input.body = std::span<const uint8_t>(
      data + flv_reader::kTagHeaderBytes,
      size_t(std::max<int64_t>(std::min(lead, got - flv_reader::kTagHeaderBytes), 0)));
  const auto& index = view_->index();
  input.indexEntry =
      std::binary_search(index.begin(), index.end(), flv_reader::IndexEntry{0, cursor.offset},
                         [](const auto& a, const auto& b) { return a.offset < b.offset; });
  ClusterState state = cursor.state;
  if (!MapTag(input, view_->routes(), state, piece)) {
    std::vector<uint8_t> body;
    if (header.dataSize <= kMaxWholeBody) {
      body.resize(header.dataSize);
      if (source.ReadAt(cursor.offset + flv_reader::kTagHeaderBytes, body.data(),
                        int64_t(body.size())) != int64_t(body.size())) {
        readError_ = true;
        return false;
      }
    }
    input.body = body;
    state = cursor.state;
    if (body.size() < header.dataSize || !MapTag(input, view_->routes(), state, piece)) {
      piece = VoidPiece(uint64_t(size));
      piece.fate = TagPiece::Fate::kDropped;
      state = cursor.state;
    }
  }
  if (cursor.offset >= furthest_) {
    furthest_ = cursor.offset + size;
    if (piece.fate == TagPiece::Fate::kPlayed) ++stats_.played;
    if (piece.fate == TagPiece::Fate::kDropped) ++stats_.dropped;
    if (piece.fate == TagPiece::Fate::kOtherTrack) ++stats_.otherTrack;
  }
  cursor.offset += size;
  cursor.state = state;
  return true;
}

int64_t MatroskaReader::NextKnownBoundary(int64_t after) const {
  const auto& index = view_->index();
  const auto entry =
      std::upper_bound(index.begin(), index.end(), after,
                       [](int64_t offset, const auto& e) { return offset < e.offset; });
  int64_t next = entry == index.end() ? -1 : entry->offset;
  if (view_->cuesAtFile() > after && (next < 0 || view_->cuesAtFile() < next)) {
    next = view_->cuesAtFile();
  }
  return next;
}

}  // namespace mkv
