#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What an MP4 file (or a QuickTime, 3GP or F4V one: the same boxes) claims
// in its headers, beside what of its samples the file really holds; the
// problems found, each with where it is; and whether the engine may be
// given the file at all. Every list here is bounded, whatever the file.
namespace mp4_reader {

// What the walk may cost. The sample bounds are what the engine's index
// costs: it keeps about 50 bytes for every sample of every track, built
// while the file opens (8 million samples: 390 MB and 11 s). A 10-hour
// video at 60 frames a second has 2.2 million samples, its sound at
// 48 kHz 1.7 million; the bounds let every real file through with room.
struct Limits {
  // Boxes inside boxes: the walk descends only the few known paths
  // (moov/trak/mdia/minf/stbl, moof/traf), never deeper than this.
  int maxDepth = 12;
  int64_t maxBoxes = 1000000;         // boxes looked at in all
  int maxTracks = 64;                 // the engine makes a stream of each
  int64_t maxTrackSamples = 4194304;  // 19 hours at 60 frames a second
  int64_t maxFileSamples = 6291456;   // every track together
  int64_t maxProblems = 50;           // kept; all are counted
};

enum class Refusal : uint8_t {
  kNone,
  kNotMp4,
  kCompressedHeader,  // a compressed moov: the engine inflates it without a bound
  kNoHeader,          // no moov at all
  kCutBeforeHeader,   // the file ends before its moov
  kHeaderCut,         // the file ends inside its moov
  kTooManySamples,
  kTooManyTracks,
  kTooManyBoxes,
  // Over the network: the walk would cost more requests or bytes than it
  // may, or the movie header lies where a server without ranges cannot
  // send it.
  kNetworkCost,
  kOutOfReach,
};

struct Problem {
  int64_t offset = -1;  // in the file; -1 for the whole file
  int64_t timeMs = -1;  // on the file's clock; -1 when none applies
  std::string text;     // plain English, without the location
};

enum class TrackKind : uint8_t { kOther, kVideo, kAudio };

struct Track {
  uint32_t id = 0;
  TrackKind kind = TrackKind::kOther;
  std::string handler;  // the hdlr type, as four printable characters
  std::string codec;    // the first sample entry's type ("avc1", "mp4a")
  int objectType = -1;  // mp4a: the decoder config's object type
  int width = 0, height = 0;
  int sampleRate = 0, channels = 0;
  uint32_t timescale = 0;      // ticks a second (mdhd)
  uint64_t mediaDuration = 0;  // mdhd, in ticks
  int64_t samples = 0;         // the sample sizes' count, fragments included
  int64_t keyframes = -1;      // stss entries; -1: no stss, every sample is one
  int64_t chunks = 0;
  int64_t durationTicks = 0;  // every sample's duration added up
  int64_t heldSamples = 0;    // from the first, all of whose bytes are in the file
  int64_t heldTicks = 0;      // where the first sample not held starts
  int64_t heldBytes = 0;      // what the held samples weigh
  bool cut = false;           // a sample lies past the file's end
  int64_t cutOffset = -1;     // that sample's first byte
  bool fragmented = false;    // samples in moof boxes
  bool present() const { return kind != TrackKind::kOther && samples > 0; }
};

struct Facts {
  bool isMp4 = false;
  int64_t fileSize = 0;
  std::string brand;                    // ftyp's major brand
  std::vector<std::string> compatible;  // its compatible brands, a few
  uint32_t movieTimescale = 0;          // mvhd
  uint64_t movieDuration = 0;           // mvhd, or mehd for a fragmented file
  int64_t moovOffset = -1;
  int64_t moovBytes = 0;
  int64_t mdatBoxes = 0;
  int64_t fragments = 0;       // moof boxes
  bool fragmentIndex = false;  // an mfra
  int64_t boxes = 0;           // looked at
  std::vector<Track> tracks;
  // The file ends inside its media data: where the first sample not held
  // lies, and its time.
  bool cut = false;
  int64_t cutOffset = -1;
  int64_t cutMs = -1;
  std::vector<Problem> problems;  // the first few
  int64_t problemCount = 0;
  Refusal refusal = Refusal::kNone;
  std::string refusalText;  // finishes "Cannot play "x": ..."
};

// Seconds of ticks at `timescale`, in milliseconds; 0 without a timescale.
int64_t TicksToMs(int64_t ticks, uint32_t timescale);

// The length the header claims: mvhd's (mehd's when fragmented), or else
// the longest track's mdhd; 0 when it claims none.
int64_t ClaimedMs(const Facts& facts);
// The length the file holds: up to the first sample not in it when it is
// cut short, else the longest sound or picture track's samples.
int64_t HeldMs(const Facts& facts);
// "it is cut off after 0:25; the header claims 5:26"; empty when whole.
std::string CutShort(const Facts& facts);
// How much of the file the engine may read: up to the first sample not
// held, so that it never decodes half a picture; -1 for all of it.
int64_t EngineEnd(const Facts& facts);

// "H.264", "AAC", ... for a sample entry's type; empty when unknown.
std::string CodecName(const std::string& fourcc, int objectType);

void AddProblem(Facts& facts, const Limits& limits, Problem problem);

}  // namespace mp4_reader
