#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// What one audio or video tag's body carries, in either way FLV is written
// today: the legacy layout (a flags byte with a codec number, AVC-like packet
// types for codec ids 7 and 12) and the enhanced one (the ExHeader bit, a
// packet type and a FourCC; multitrack; ModEx). Nothing here reads a file:
// the caller hands over the body bytes it has, or a way to fetch them.
//
// Promises:
// - Every length is checked against the bytes given; a body that is cut
//   short or makes no sense gives kind kDamaged (or kUnknown for a packet
//   type or FourCC this reader does not know), never a guess.
// - At most kMaxPacketsPerTag packets come out of one tag, whatever it claims.
// - Offsets are within the body given: [payloadOffset, payloadOffset +
//   payloadSize) is the codec configuration record or the coded frame, with
//   every FLV header byte before it left out.
// - Only header bytes are fetched: a multitrack tag's frames are stepped over
//   by their sizes, never read.
namespace flv_reader {

// FourCCs as the enhanced layout writes them, first character in the top byte.
constexpr uint32_t FourCc(const char (&text)[5]) {
  return uint32_t(uint8_t(text[0])) << 24 | uint32_t(uint8_t(text[1])) << 16 |
         uint32_t(uint8_t(text[2])) << 8 | uint32_t(uint8_t(text[3]));
}

inline constexpr uint32_t kFourCcAvc = FourCc("avc1");
inline constexpr uint32_t kFourCcHevc = FourCc("hvc1");
inline constexpr uint32_t kFourCcAv1 = FourCc("av01");
inline constexpr uint32_t kFourCcVp9 = FourCc("vp09");
inline constexpr uint32_t kFourCcVp8 = FourCc("vp08");
inline constexpr uint32_t kFourCcOpus = FourCc("Opus");
inline constexpr uint32_t kFourCcFlac = FourCc("fLaC");
inline constexpr uint32_t kFourCcAc3 = FourCc("ac-3");
inline constexpr uint32_t kFourCcEac3 = FourCc("ec-3");
inline constexpr uint32_t kFourCcMp3 = FourCc(".mp3");
inline constexpr uint32_t kFourCcAac = FourCc("mp4a");

// The legacy video codec id of HEVC under the CDN convention.
inline constexpr int kVideoHevc = 12;
// The sound format that switches an audio tag to the enhanced layout.
inline constexpr int kAudioExHeader = 9;

// The FourCCs whose packets this reader knows how to lay out.
bool KnownVideoFourCc(uint32_t fourCc);
bool KnownAudioFourCc(uint32_t fourCc);

struct MediaPacket {
  enum class Kind : uint8_t {
    kConfig,         // a codec configuration record (sequence header, SequenceStart)
    kFrame,          // coded frame data
    kEndOfSequence,  // the end of a sequence; no payload
    kMetadata,       // enhanced video metadata (colour information), AMF in the payload
    kChannelConfig,  // enhanced audio: channel count and order (MultichannelConfig)
    kTsDescriptor,   // an MPEG-2 TS video descriptor in place of a configuration record
    kUnknown,        // a packet type or codec this reader does not know
    kDamaged,        // cut short or inconsistent
  };
  Kind kind = Kind::kUnknown;
  bool audio = false;
  // Enhanced layout: the FourCC ("hvc1", "av01", "vp09", "avc1", "Opus",
  // "fLaC", "ac-3", "ec-3", ".mp3", "mp4a", ...). Legacy layout: 0.
  uint32_t fourCc = 0;
  // Legacy layout: the codec id (video, 12 for HEVC) or sound format (audio).
  // Enhanced layout: -1.
  int legacyCodec = -1;
  // The packet type as written (AVC/HEVC/AAC packet type in the legacy
  // layout, the enhanced packet type after ModEx and multitrack); kNoType
  // where the layout has none. Lets a caller count the coded frames of a
  // FourCC it does not know.
  static constexpr uint8_t kNoType = 0xff;
  uint8_t packetType = kNoType;
  // 0 unless the tag is multitrack.
  uint8_t trackId = 0;
  // Video: a key frame. Audio: always true.
  bool keyframe = false;
  // Presentation minus decoding time in milliseconds (SI24), 0 where the
  // layout has none.
  int32_t compositionMs = 0;
  // ModEx: a timestamp offset in nanoseconds to add to the tag's timestamp;
  // bounded to less than a millisecond as the enhanced layout defines it.
  int32_t timestampOffsetNs = 0;
  size_t payloadOffset = 0;
  size_t payloadSize = 0;
};

constexpr size_t kMaxPacketsPerTag = 16;

struct MediaTag {
  MediaPacket packets[kMaxPacketsPerTag];
  size_t count = 0;
  bool enhanced = false;
  bool multitrack = false;
  // A video command frame (client-side seeking): no packet at all.
  bool command = false;
  // A ModEx timestamp offset of a millisecond or more, or too short to hold
  // one: left out (0) rather than trusted.
  bool offsetIgnored = false;
  // Tracks of a multitrack tag past kMaxPacketsPerTag, not listed.
  bool tracksLeftOut = false;
};

// Whether a packet carries coded frames: a kFrame, or the frames of a codec
// this reader does not know (a legacy codec number it does not define, an
// unknown FourCC's CodedFrames or CodedFramesX).
bool CodedFrames(const MediaPacket& packet);

// Reads the body of an audio (tagType 8) or video (9) tag. Legacy codecs
// other than AVC, HEVC (id 12) and AAC give one kFrame packet whose payload
// is the body after the flags byte (and after VP6's adjustment byte, VP6
// alpha's offset), or kConfig where the codec has one. An empty body (a
// silence message) gives no packet.
MediaTag ParseMediaTag(uint8_t tagType, std::span<const uint8_t> body);

// The bytes of a tag body fetched on demand, for a reader that walks a file
// and would rather not read a multitrack tag's frames to find its headers.
class BodyBytes {
 public:
  virtual ~BodyBytes() = default;
  // Up to `n` bytes from `offset` in the body, valid until the next call;
  // fewer (or none) where the bytes cannot be had.
  virtual std::span<const uint8_t> Get(size_t offset, size_t n) const = 0;
};
// The same for a body of `bodySize` bytes reached through `body`.
MediaTag ParseMediaTag(uint8_t tagType, size_t bodySize, const BodyBytes& body);

}  // namespace flv_reader
