#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "media/flv/flv_format.h"

// What an FLV file holds, measured tag by tag, beside what it claims about
// itself in onMetaData; the problems found on the way, each with where it
// is; and the two decisions the player takes from them: the length to show
// and the script tags the engine must not see. Every list here is bounded,
// whatever the file.
namespace flv_reader {

enum class ProblemKind : uint8_t {
  kNotFlv,
  kReadError,
  kHeader,      // version, reserved flag bits, flags that disagree with the tags
  kDataOffset,  // the header's data offset points nowhere useful
  kHeaderOnly,  // no tag at all
  kLastTagCut,
  kTrailingBytes,  // bytes after the last tag that are no tag
  kPrevTagSize,    // a PreviousTagSize field that disagrees with its tag
  kResync,         // bytes skipped to find tags again
  kZeroFilled,     // a run of zeros where tags should be
  kSecondHeader,   // another "FLV" header: two recordings glued together
  kTimestampLeap,
  kTimestampBackwards,
  kCodecChange,
  kScriptAbsurd,     // too big, too deep or too many values: not parsed
  kScriptMalformed,  // parsed as far as it goes
  kMetadataAbsurd,   // an impossible value in onMetaData
  kDurationDisagrees,
  kMetadataDisagrees,  // another onMetaData claim the file contradicts
  kKeyframeIndexDisagrees,
  kTagBody,      // an audio or video tag's body cut short or inconsistent
  kCodecConfig,  // a configuration record missing before the frames, or damaged
  kCount
};
std::string_view ProblemKindName(ProblemKind kind);

struct Problem {
  ProblemKind kind = ProblemKind::kHeader;
  int64_t offset = -1;  // in the file; -1 for the whole file
  int64_t timeMs = -1;  // the timestamp there; -1 when none applies
  std::string text;     // plain English, without the location
};

// The first few problems of each kind, in the order found, and how many of
// each there were in all.
class ProblemList {
 public:
  ProblemList() = default;
  explicit ProblemList(size_t keepPerKind) : keepPerKind_(keepPerKind) {}
  void Add(Problem problem);
  int64_t Count(ProblemKind kind) const { return counts_[static_cast<size_t>(kind)]; }
  bool Has(ProblemKind kind) const { return Count(kind) > 0; }
  int64_t Total() const;
  const std::vector<Problem>& Kept() const { return kept_; }
  const Problem* First(ProblemKind kind) const;

 private:
  size_t keepPerKind_ = 50;
  std::vector<Problem> kept_;
  std::array<int64_t, static_cast<size_t>(ProblemKind::kCount)> counts_{};
};

enum class SizeFrom : uint8_t { kNone, kFrameHeader, kMetadata };

// A stream's codec as the file names it: a legacy codec number (the video
// codec id, 12 for HEVC under the CDN convention; the sound format), or an
// enhanced FourCC (first character in the top byte).
struct CodecTag {
  int legacy = -1;
  uint32_t fourCc = 0;
  bool present() const { return legacy >= 0 || fourCc != 0; }
  bool operator==(const CodecTag&) const = default;
};

struct StreamFacts {
  int64_t tags = 0;    // every tag of the stream
  int64_t frames = 0;  // tags that carry media: no codec configuration, no empty tags
  int64_t payloadBytes = 0;
  // Legacy codec numbers: the first, and each in the order it appeared, at
  // most 8. Enhanced (FourCC) codecs leave them out.
  int codecId = -1;
  std::vector<int> codecIds;
  // Every codec, legacy or FourCC: the first, and each in the order it
  // appeared, at most 8.
  CodecTag codec;
  std::vector<CodecTag> codecs;
  // Frame timestamps in file order; maxMs is the largest.
  int64_t firstMs = -1;
  int64_t lastMs = -1;
  int64_t maxMs = -1;
  // The latest a picture is shown: its timestamp and composition offset.
  int64_t maxShownMs = -1;
  int64_t leaps = 0;
  int64_t backwards = 0;
  double frameMs = 0;    // typical time from one frame to the next
  double frameRate = 0;  // video: frames per second, from the timestamps
  double kbitPerSecond = 0;
  int64_t contentMs = 0;  // time covered by frames, leaps and steps back left out
  // Audio: from the flags byte, or the codec's own header where it knows better.
  int sampleRate = 0;
  int sampleBits = 0;
  int channels = 0;
  bool formatFromCodecHeader = false;
  // Video.
  int width = 0;
  int height = 0;
  SizeFrom sizeFrom = SizeFrom::kNone;
  int64_t keyframes = 0;
  // From the configuration records of codec id 12 and enhanced codecs: the
  // codec's own profile number (codec_names.h names it), bit depth and
  // chroma format (0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4); -1 and 0 when
  // not told.
  int profile = -1;
  int bitDepth = 0;
  int chromaFormat = -1;
  // The track these figures are of: 0 unless the file is multitrack.
  int trackId = 0;
  bool present() const { return tags > 0; }
};

// Tracks of one stream listed at most, whatever the file holds.
inline constexpr size_t kMaxTracksListed = 16;

enum class HideReason : uint8_t {
  kOversized,
  kTooDeep,
  kTooManyValues,
  kAbsurdClaims,
  kCrowdsOutMedia,  // one of many script tags before the first audio or video tag
};

// A script tag the engine must not see, and the one byte that hides it: the
// tag's type byte. Its type bits turned from script data (18) to 19, a type
// the engine does not know, the engine steps over the tag by the size in its
// header without reading or keeping a byte of the body. (A script name it
// does not know would not do: it would still copy the whole body into a
// packet, and an oversized body is what hiding must keep from it.)
struct HiddenTag {
  int64_t tagOffset = 0;
  int64_t tagBytes = 0;     // header and body
  int64_t patchOffset = 0;  // the type byte: always tagOffset
  uint8_t original = 0;     // the type byte as the file has it
  // The upper three bits (reserved and filter) as they were, the type 19.
  uint8_t replacement = 0;
  HideReason reason = HideReason::kOversized;
  std::string name;
};

struct Metadata {
  int64_t tags = 0;     // onMetaData tags in the file
  int64_t offset = -1;  // the first one's tag, whose claims these are
  std::optional<double> duration, width, height, framerate, videodatarate, audiodatarate, filesize,
      audiosamplerate, audiosamplesize, videocodecid, audiocodecid;
  std::optional<bool> stereo;
  // Some writers put a name where a codec number belongs.
  std::string videocodecText, audiocodecText;
  // The keyframes index: -1 when there is none; values kept up to a bound.
  int64_t keyframePositionCount = -1;
  int64_t keyframeTimeCount = -1;
  std::vector<double> keyframePositions, keyframeTimes;
  int64_t cuePointCount = 0;
  // Other text fields (encoder, creator, ...), a few, cut short.
  std::vector<std::pair<std::string, std::string>> strings;
  // How to hide the tag, should its claims turn out absurd.
  std::optional<HiddenTag> hideMark;
};

struct CuePoint {
  std::string name;
  std::string type;  // "event", "navigation" or as written
  double timeSec = -1;
  int64_t tagMs = -1;   // the tag's timestamp; -1 for cue points listed in onMetaData
  int64_t offset = -1;  // the tag that holds it
  bool fromMetadata = false;
};

// onTextData and onCaption: subtitles and captions.
struct Caption {
  int64_t timeMs = 0;
  int64_t offset = 0;
  std::string text;
  std::string source;  // the script tag's name
};

struct IndexEntry {
  int64_t timeMs = 0;
  int64_t offset = 0;  // the tag's first byte
  bool operator==(const IndexEntry&) const = default;
};
enum class IndexKind : uint8_t { kNone, kVideoKeyframes, kAudio };

enum class Coverage : uint8_t {
  kNone,      // not even the header was read
  kQuick,     // the start and the tail only
  kPartial,   // a walk that has not reached the end yet
  kComplete,  // every tag up to the end of the file
};

// Offsets [from, to) in the file.
struct ByteRange {
  int64_t from = 0;
  int64_t to = 0;
  bool operator==(const ByteRange&) const = default;
};
inline constexpr int64_t kListedRegionBytes = int64_t{64} << 10;
inline constexpr size_t kMaxListedRegions = 1024;

struct PrevTagSizeSummary {
  int64_t checked = 0;
  int64_t wrong = 0;
  // Every field checked was wrong, all by the same amount (delta = written
  // minus right): a writer's habit rather than damage.
  bool allWrongBySame = false;
  int64_t delta = 0;
};

// What the walk read: whether the file is FLV, how far the walk got, and
// the tags it counted.
struct FileRead {
  bool isFlv = false;
  Coverage coverage = Coverage::kNone;
  int64_t size = 0;
  int64_t bytesWalked = 0;
  FileHeader header;
  int64_t tags = 0;
  int64_t scriptTags = 0;
};

// The timeline, from audio and video frames (codec configuration left out).
struct Timeline {
  int64_t firstMs = -1;
  int64_t lastMs = -1;     // the largest frame timestamp
  int64_t endMs = -1;      // where the last frame ends
  int64_t durationMs = 0;  // endMs - firstMs: the length measured
  int64_t contentMs = 0;   // what the frames cover, leaps and restarts left out
};

// The streams' figures follow each stream's main track: the first that
// appeared. Their tag counts take in every track.
struct StreamSet {
  StreamFacts audio;
  StreamFacts video;
  // Every track of a multitrack stream, the main one first, the others in
  // the order they appeared, each with its own tags and bytes; empty for a
  // stream of one track. Tracks past kMaxTracksListed are counted only.
  std::vector<StreamFacts> audioTracks;
  std::vector<StreamFacts> videoTracks;
  int64_t tracksLeftOut = 0;
};

// What the script tags said, and those the engine must not see.
struct ScriptFacts {
  Metadata metadata;
  // From onCuePoint tags and onMetaData, each once (the same name at the same
  // millisecond is one cue point), the first ScriptBounds::cuePoints of them;
  // the count takes in those past the bound.
  std::vector<CuePoint> cuePoints;
  int64_t cuePointCount = 0;
  std::vector<Caption> captions;  // bounded
  int64_t captionCount = 0;
  // Other script tags by name, bounded, with how many of each.
  std::vector<std::pair<std::string, int64_t>> others;
  std::vector<HiddenTag> hidden;  // absurd script data, bounded
};

// Time to file offset: video keyframes, or for a file without video one
// audio tag a second. Thinned out evenly past its bound.
struct SeekIndex {
  std::vector<IndexEntry> entries;
  IndexKind kind = IndexKind::kNone;
};

// Where the file is not a clean chain of tags.
struct Damage {
  PrevTagSizeSummary prevTagSizes;
  int64_t bytesSkipped = 0;
  int64_t resyncs = 0;
  // Stretches of kListedRegionBytes or more that hold no tag, in file order
  // (the first kMaxListedRegions): a player may keep them from a demuxer,
  // which would search them byte by byte.
  std::vector<ByteRange> noTagRegions;
  int64_t secondHeaders = 0;
  int64_t lastTagOffset = -1;  // the last complete tag
  bool lastTagCut = false;
  int64_t cutTagOffset = -1;
  int64_t cutTagMs = -1;
  int64_t trailingBytes = 0;  // after the last tag, and no tag
};

struct Facts {
  FileRead file;
  Timeline clock;
  StreamSet streams;
  ScriptFacts scripts;
  SeekIndex index;
  Damage damage;
  // Every kind of problem, from damage to claims the tags contradict.
  ProblemList problems;
};

// Works out the timeline (first, last, end, duration, content) from the
// figures of the two streams.
void UpdateTimeline(Facts& facts);

// What onMetaData claims that no file can hold.
bool AbsurdDuration(double seconds);
bool AbsurdPictureSide(double pixels);

enum class LengthSource : uint8_t { kNone, kMeasured, kClaimed };
struct LengthChoice {
  // The timeline to show runs from startMs (the first frame's timestamp,
  // which the file need not start at 0) for ms.
  int64_t startMs = 0;
  int64_t ms = 0;
  LengthSource source = LengthSource::kNone;
  std::string why;  // in words, for the information view
};
// Whether onMetaData's duration agrees with the tags (to within a second or
// 5 %): with the span they cover, or with where they end on the file's own
// clock (a file whose start is lost keeps the whole recording's duration).
bool DurationAgrees(const Facts& facts, double seconds);

// The length to show: where the last audio or video frame ends, from the
// first frame on (a marker or a codec configuration is no frame), once the
// tags are read to the end or the end's own tags are; otherwise onMetaData's
// duration, unless it is missing, zero, absurd or less than what is read.
LengthChoice ChooseLength(const Facts& facts);

// The script tags a stream layer must hide from the engine: absurd script
// data, and an onMetaData whose claims are absurd. One entry a tag, in file
// order; writing each replacement at its patchOffset in the bytes handed to
// the engine hides them all, and no two patches touch the same byte.
std::vector<HiddenTag> ScriptTagsToHide(const Facts& facts);

}  // namespace flv_reader
