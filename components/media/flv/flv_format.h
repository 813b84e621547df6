#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

// The fixed layout of an FLV file: its 9-byte header, the 11-byte tag
// headers, the codec numbers and their names, and the tests that tell a tag
// header from stray bytes. Nothing here reads a file.
namespace flv_reader {

inline constexpr int kFileHeaderBytes = 9;
inline constexpr int kTagHeaderBytes = 11;
inline constexpr int kPrevSizeBytes = 4;

enum TagType : uint8_t { kAudioTag = 8, kVideoTag = 9, kScriptTag = 18 };

inline uint32_t ReadU16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
inline uint32_t ReadU24(const uint8_t* p) {
  return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}
inline uint32_t ReadU32(const uint8_t* p) { return ReadU24(p) << 8 | p[3]; }
inline double ReadDouble(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = bits << 8 | p[i];
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

struct FileHeader {
  uint8_t version = 0;
  uint8_t flags = 0;  // the whole flags byte
  uint32_t dataOffset = 0;
  bool audioFlag() const { return flags & 0x04; }
  bool videoFlag() const { return flags & 0x01; }
  // Bits other than audio and video; a careful writer leaves them clear.
  bool reservedBitsSet() const { return flags & 0xfa; }
};

// The header from the file's first 9 bytes; nothing when they do not start
// with "FLV" (fewer than 9 bytes also give nothing).
std::optional<FileHeader> ParseFileHeader(std::span<const uint8_t> bytes);

// A second "FLV" header where a tag should be: two recordings glued together.
// Only a header a writer could have meant (version 1, a data offset that
// leaves room for nothing but the header) counts.
bool LooksLikeGluedHeader(std::span<const uint8_t> bytes);

struct TagHeader {
  uint8_t typeByte = 0;  // reserved bits, filter bit and type
  uint8_t type = 0;      // typeByte & 0x1f
  uint32_t dataSize = 0;
  // Milliseconds: 24 bits plus the extension byte as the top 8.
  uint32_t timestamp = 0;
  uint32_t streamId = 0;
  bool encrypted() const { return typeByte & 0x20; }
};

TagHeader ParseTagHeader(const uint8_t* p);  // reads 11 bytes

// What a demuxer following the chain of tags accepts: a known type and no
// reserved bits.
bool PlausibleTag(const TagHeader& tag);

// What stray bytes rarely pass, for finding tags again after damage: a
// plausible tag with stream id 0, a body, and a first body byte that makes
// sense for its type, in either way FLV is written (`body` holds as much of
// the body as is at hand, maybe nothing).
bool StrictlyPlausibleTag(const TagHeader& tag, std::span<const uint8_t> body);

// Codec numbers of the audio and video flags bytes, and what they are called.
bool KnownVideoCodec(int id);
bool KnownAudioCodec(int id);
// "unknown" for numbers FLV does not define; 12 is HEVC, as CDNs write it.
std::string_view VideoCodecName(int id);
std::string_view AudioCodecName(int id);

inline constexpr int kVideoH263 = 2;
inline constexpr int kVideoScreen = 3;
inline constexpr int kVideoVp6 = 4;
inline constexpr int kVideoVp6Alpha = 5;
inline constexpr int kVideoScreen2 = 6;
inline constexpr int kVideoH264 = 7;

inline constexpr int kAudioPcmPlatform = 0;
inline constexpr int kAudioAdpcm = 1;
inline constexpr int kAudioMp3 = 2;
inline constexpr int kAudioPcmLittle = 3;
inline constexpr int kAudioNelly16k = 4;
inline constexpr int kAudioNelly8k = 5;
inline constexpr int kAudioNelly = 6;
inline constexpr int kAudioAlaw = 7;
inline constexpr int kAudioMulaw = 8;
inline constexpr int kAudioAac = 10;
inline constexpr int kAudioSpeex = 11;
inline constexpr int kAudioMp38k = 14;
inline constexpr int kAudioDevice = 15;

// Sound format from an audio flags byte, with the codecs whose real format
// the flags do not tell (a decoder of that codec knows better): Nellymoser at
// fixed rates, Speex at 16 kHz mono, G.711 and 8 kHz MP3 at 8 kHz. AAC's real
// format is in its AudioSpecificConfig; the flags of AAC always say 44 kHz
// stereo.
struct AudioFormat {
  int sampleRate = 0;
  int sampleBits = 0;
  int channels = 0;
};
AudioFormat AudioFormatFromFlags(uint8_t flags);

}  // namespace flv_reader
