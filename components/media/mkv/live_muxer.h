#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "media/mkv/ebml.h"
#include "media/mkv/tag_map.h"
#include "media/mkv/tracks.h"

// An FLV stream read in order (a live HTTP-FLV stream) turned into Matroska
// as it comes: FLV bytes are pushed in, Matroska bytes pulled out. The
// Segment has no size and no Cues; Clusters follow as the tags do. The
// header goes out once the streams are known: both configuration records the
// FLV header promises, or the first kMaxHeldTags tags / kMaxHeldBytes bytes,
// whichever comes first.
//
// Memory: a tag is held until it is whole (at most one tag, 16 MiB and a
// few bytes, as FLV bounds it), the tags before the header up to the bounds
// above, and what was made but not pulled yet: a caller that keeps Pending()
// small keeps the whole thing small.
namespace mkv {

class LiveMuxer {
 public:
  static constexpr size_t kMaxHeldTags = 400;
  static constexpr size_t kMaxHeldBytes = size_t{8} << 20;

  // Takes the next bytes of the stream. False once the stream is found to be
  // no FLV, or to have no stream the view can play (error() says which);
  // nothing more is made after that.
  bool Push(std::span<const uint8_t> bytes);
  // Copies up to `length` bytes of Matroska; how many.
  size_t Pull(uint8_t* buffer, size_t length);
  size_t Pending() const { return out_.size(); }
  bool Started() const { return started_; }
  const Routes& routes() const { return routes_; }
  const std::string& error() const { return error_; }
  // The end of the stream: tags held back for the header go out as they are.
  void Finish();

 private:
  bool TakeTags();
  void Hold(std::span<const uint8_t> tag);
  bool StartOutput();
  void Emit(std::span<const uint8_t> tag);

  std::vector<uint8_t> in_;  // bytes not yet part of a whole tag
  size_t skipHeader_ = 0;    // file header bytes still to drop
  bool headerRead_ = false;
  uint8_t flags_ = 0;
  std::vector<uint8_t> held_;  // whole tags, before the header
  size_t heldTags_ = 0;
  bool seen_[2] = {false, false};     // video, audio
  bool settled_[2] = {false, false};  // configuration found or not needed
  bool started_ = false;
  bool failed_ = false;
  Routes routes_;
  ClusterState state_;
  std::deque<uint8_t> out_;
  std::string error_;
};

}  // namespace mkv
