#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "media/flv/byte_source.h"
#include "media/flv/facts.h"
#include "media/mkv/header.h"
#include "media/mkv/tag_map.h"
#include "media/mkv/tracks.h"

// An FLV file seen as a Matroska file, made on demand: any byte range of the
// Matroska version is produced when it is read, from the tags around it, so
// a reader seeks in it directly and memory stays bounded whatever the size.
//
// Layout: the Matroska header; the file's tags, each turned into elements of
// its own size (tag_map.h), so that an offset in the view is the file's plus
// a constant; the Cues, one point per keyframe index entry, placed where the
// walk that made the index ended; then the tags after that point (a file
// still being written grows on past its Cues). The Segment has no size, so
// the view can grow with the file.
//
// A FileView is made once and never changes; each reader of it has a
// MatroskaReader of its own.
namespace mkv {

struct ViewStats;

class FileView {
 public:
  // The view of the file in `source` with the streams `routes` chose, its
  // keyframe index and length from `facts`. Null when no stream can be
  // played.
  static std::shared_ptr<const FileView> Make(std::shared_ptr<const flv_reader::ByteSource> source,
                                              const flv_reader::Facts& facts, const Routes& routes);

  // The view's size now: it grows with the file.
  int64_t Size() const;
  const Routes& routes() const { return routes_; }
  const flv_reader::ByteSource& source() const { return *source_; }

  // Where things are, for the reader.
  int64_t headerBytes() const { return int64_t(header_.size()); }
  const Bytes& header() const { return header_; }
  int64_t dataStart() const { return dataStart_; }
  int64_t cuesAtFile() const { return cuesAtFile_; }
  int64_t cuesBytes() const { return int64_t(CuesBytes(index_.size())); }
  const std::vector<flv_reader::IndexEntry>& index() const { return index_; }
  // The view offset of a file offset at a tag boundary.
  int64_t ToView(int64_t fileOffset) const;

 private:
  FileView() = default;
  std::shared_ptr<const flv_reader::ByteSource> source_;
  Routes routes_;
  Bytes header_;
  int64_t dataStart_ = 0;
  int64_t cuesAtFile_ = 0;
  std::vector<flv_reader::IndexEntry> index_;
};

// What a reader saw of the streams it played, for a notice.
struct ViewStats {
  int64_t played = 0;
  int64_t dropped = 0;     // frames that did not fit their tag or were damaged
  int64_t otherTrack = 0;  // frames of streams not played
};

// Reads a FileView. One thread at a time.
class MatroskaReader {
 public:
  explicit MatroskaReader(std::shared_ptr<const FileView> view);
  ~MatroskaReader();
  MatroskaReader(const MatroskaReader&) = delete;
  MatroskaReader& operator=(const MatroskaReader&) = delete;

  // Copies up to `length` bytes of the view from `offset`: fewer at the end
  // of what the file holds now (a tag the file's end cuts short is not
  // produced until it is whole), 0 when nothing is there yet, -1 on a read
  // error.
  int64_t Read(int64_t offset, uint8_t* buffer, int64_t length);
  int64_t Size() const { return view_->Size(); }
  // The last read stopped at a tag the file does not hold whole yet.
  bool EndsInsideATag() const { return waitingForTag_; }
  const ViewStats& stats() const { return stats_; }

 private:
  struct Cursor {
    int64_t offset = -1;  // a tag boundary in the file; -1: none
    ClusterState state;
  };
  struct Window;

  int64_t ReadCues(int64_t at, uint8_t* buffer, int64_t length);
  CuePoint Cue(size_t index);
  std::optional<CuePoint> OwnCue(size_t index);
  int64_t ReadTags(int64_t fileOffset, uint8_t* buffer, int64_t length);
  // Makes `piece_` the tag (or the bytes that are no tag) holding `fileOffset`;
  // false when the file does not hold it whole yet, or on a read error.
  bool Locate(int64_t fileOffset);
  Cursor Start(int64_t fileOffset);
  // Maps the tag at `cursor`, moving it on; false when it is not whole yet.
  bool Step(Cursor& cursor, TagPiece& piece, int64_t& size);
  int64_t NextKnownBoundary(int64_t after) const;

  std::shared_ptr<const FileView> view_;
  std::unique_ptr<Window> window_;
  Cursor cursor_;
  // The piece last made: the file bytes [pieceAt_, pieceAt_ + piece_.Size()).
  TagPiece piece_;
  int64_t pieceAt_ = -1;
  bool readError_ = false;
  bool waitingForTag_ = false;
  std::vector<std::optional<CuePoint>> cues_;
  // Cluster starts met on the way, a few megabytes apart: where reads
  // after a seek can start.
  std::vector<Cursor> checkpoints_;
  ViewStats stats_;
  int64_t furthest_ = 0;  // stats count each tag once
};

}  // namespace mkv
