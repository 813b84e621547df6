#pragma once

#include <cstdint>
#include <span>

#include "media/flv/flv_format.h"
#include "media/mkv/ebml.h"
#include "media/mkv/tracks.h"

// What one FLV tag becomes in the Matroska view: elements of exactly the
// tag's own size, its 11-byte header, body and the PreviousTagSize after it
// (so that an offset in the view is an offset in the file plus a constant).
// The FLV bytes around a frame (tag header, flags, packet type, composition
// time, FourCC, PreviousTagSize) pay for the Matroska elements: a Cluster
// start where one is due, the SimpleBlock's header, and a Void for what is
// left. A tag that plays nothing (script data, a sequence header, another
// track's frames, anything damaged or unknown) becomes one Void.
//
// Timestamps are the file's own: a block's time is its tag's timestamp plus
// its composition offset, so the view's clock is the FLV's.
namespace mkv {

// The Cluster the blocks written so far belong to.
struct ClusterState {
  bool open = false;
  int64_t timestampMs = 0;
};

struct TagInput {
  int64_t offset = 0;  // of the tag's first byte, in the file
  flv_reader::TagHeader header;
  // The body's first bytes, or all of it.
  std::span<const uint8_t> body;
  // A Cluster starts here if it fits: the tag is an entry of the keyframe
  // index, which the Cues point at.
  bool indexEntry = false;
};

struct TagPiece {
  enum class Fate : uint8_t {
    kPlayed,     // a SimpleBlock
    kVoid,       // nothing to play here
    kDropped,    // a frame of a played stream that did not fit or was damaged
    kOtherTrack  // a frame of a stream the view does not play
  };
  Fate fate = Fate::kVoid;
  Bytes head;              // elements before the payload
  uint64_t payloadAt = 0;  // where the payload is in the body
  uint64_t payloadSize = 0;
  Bytes voidHead;      // a Void's ID and size after the payload
  uint64_t zeros = 0;  // its data
  bool clusterStarted = false;
  int64_t clusterMs = 0;
  uint8_t track = 0;

  uint64_t Size() const { return head.size() + payloadSize + voidHead.size() + zeros; }
};

inline uint64_t TagUnitBytes(const flv_reader::TagHeader& header) {
  return uint64_t{flv_reader::kTagHeaderBytes} + header.dataSize + flv_reader::kPrevSizeBytes;
}

// How many first bytes of a body MapTag needs, whatever the tag.
inline constexpr size_t kBodyLead = 64;

// Maps one tag, advancing `state`. False when the body given is shorter than
// what this tag needs (a multitrack tag, a configuration record to hand on):
// call again with the whole body.
bool MapTag(const TagInput& input, const Routes& routes, ClusterState& state, TagPiece& out);

// A piece of `total` bytes that is one Void.
TagPiece VoidPiece(uint64_t total);

}  // namespace mkv
