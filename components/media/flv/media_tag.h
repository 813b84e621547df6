#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// What one audio or video tag's body carries, in either way FLV is written
// today: the legacy layout (a flags byte with a codec number, AVC-like packet
// types for codec ids 7 and 12) and the enhanced one (the ExHeader bit, a
// packet type and a FourCC; multitrack; ModEx). Nothing here reads a file:
// the caller hands over the body bytes it has.
//
// Promises:
// - Every length is checked against the bytes given; a body that is cut
//   short or makes no sense gives kind kDamaged (or kUnknown for a packet
//   type or FourCC this reader does not know), never a guess.
// - At most kMaxPacketsPerTag packets come out of one tag, whatever it claims.
// - Offsets are within the body given: [payloadOffset, payloadOffset +
//   payloadSize) is the codec configuration record or the coded frame, with
//   every FLV header byte before it left out.
namespace flv_reader {

// FourCCs as the enhanced layout writes them, first character in the top byte.
constexpr uint32_t FourCc(const char (&text)[5]) {
  return uint32_t(uint8_t(text[0])) << 24 | uint32_t(uint8_t(text[1])) << 16 |
         uint32_t(uint8_t(text[2])) << 8 | uint32_t(uint8_t(text[3]));
}

struct MediaPacket {
  enum class Kind : uint8_t {
    kConfig,         // a codec configuration record (sequence header, SequenceStart)
    kFrame,          // coded frame data
    kEndOfSequence,  // the end of a sequence; no payload
    kMetadata,       // enhanced video metadata (colour information), AMF in the payload
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
};

// Reads the body of an audio (tagType 8) or video (9) tag. Legacy codecs
// other than AVC, HEVC (id 12) and AAC give one kFrame packet whose payload
// is the body after the flags byte (and after VP6's adjustment byte, VP6
// alpha's offset), or kConfig where the codec has one.
MediaTag ParseMediaTag(uint8_t tagType, std::span<const uint8_t> body);

}  // namespace flv_reader
