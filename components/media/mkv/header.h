#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "media/mkv/ebml.h"

// The start of a Matroska file as the player writes it (EBML header, an
// open-ended Segment, SeekHead, Info, Tracks) and its Cues. Every field whose
// value is known only later (where the Cues are, each cue's time and place)
// has a fixed width, so that sizes and offsets are known before the values:
// a reader can be handed any byte range of the result.
namespace mkv {

struct Track {
  uint8_t number = 1;  // 1 to 126: a one-byte track number in each block
  bool video = true;
  std::string codecId;  // "V_MPEGH/ISO/HEVC", "A_OPUS", ...
  Bytes codecPrivate;
  int width = 0;  // video, 0 when not known
  int height = 0;
  double sampleRate = 0;  // audio, 0 when not known
  int channels = 0;
  int bitDepth = 0;
  uint64_t codecDelayNs = 0;  // Opus: its pre-skip
  uint64_t seekPreRollNs = 0;
};

struct HeaderPlan {
  std::vector<Track> tracks;
  double durationMs = -1;  // -1: not written
  // Where the Cues start, from the Segment's data; nothing when there are none.
  bool cues = false;
  uint64_t cuesPosition = 0;
};

// The header bytes. Its size does not depend on cuesPosition.
Bytes WriteHeader(const HeaderPlan& plan);
// Where the Segment's data starts in what WriteHeader writes: the origin of
// every position in the SeekHead and the Cues.
uint64_t SegmentDataStart();

struct CuePoint {
  uint64_t timeMs = 0;
  uint8_t track = 1;
  uint64_t clusterPosition = 0;  // from the Segment's data
};

// Cues of `count` points: 12 bytes of element header, then kCuePointBytes for
// each point.
inline constexpr uint64_t kCuesHeaderBytes = 12;
inline constexpr uint64_t kCuePointBytes = 27;
inline uint64_t CuesBytes(uint64_t count) { return kCuesHeaderBytes + count * kCuePointBytes; }
void PutCuesHeader(Bytes& out, uint64_t count);
void PutCuePoint(Bytes& out, const CuePoint& point);

}  // namespace mkv
