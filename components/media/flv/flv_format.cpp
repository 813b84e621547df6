#include "media/flv/flv_format.h"

namespace flv_reader {

std::optional<FileHeader> ParseFileHeader(std::span<const uint8_t> bytes) {
  if (bytes.size() < kFileHeaderBytes || std::memcmp(bytes.data(), "FLV", 3) != 0) {
    return std::nullopt;
  }
  FileHeader header;
  header.version = bytes[3];
  header.flags = bytes[4];
  header.dataOffset = ReadU32(bytes.data() + 5);
  return header;
}

bool LooksLikeGluedHeader(std::span<const uint8_t> bytes) {
  if (bytes.size() < kFileHeaderBytes + kPrevSizeBytes) return false;
  const auto header = ParseFileHeader(bytes);
  return header && header->version == 1 && (header->flags & 0xf0) == 0 &&
         header->dataOffset >= kFileHeaderBytes && header->dataOffset <= 64;
}

TagHeader ParseTagHeader(const uint8_t* p) {
  TagHeader tag;
  tag.typeByte = p[0];
  tag.type = p[0] & 0x1f;
  tag.dataSize = ReadU24(p + 1);
  tag.timestamp = ReadU24(p + 4) | uint32_t{p[7]} << 24;
  tag.streamId = ReadU24(p + 8);
  return tag;
}

bool PlausibleTag(const TagHeader& tag) {
  return (tag.typeByte & 0xc0) == 0 &&
         (tag.type == kAudioTag || tag.type == kVideoTag || tag.type == kScriptTag);
}

namespace {

constexpr int kEnhancedAudio = 9;

// The four bytes after an enhanced tag's first byte, where they are at hand.
bool PrintableFourCc(std::span<const uint8_t> body) {
  for (size_t i = 1; i < 5 && i < body.size(); ++i) {
    if (body[i] < 0x20 || body[i] >= 0x7f) return false;
  }
  return true;
}

}  // namespace

bool StrictlyPlausibleTag(const TagHeader& tag, std::span<const uint8_t> body) {
  if (!PlausibleTag(tag) || tag.streamId != 0 || tag.dataSize == 0) return false;
  if (body.empty() || tag.encrypted()) return true;
  const uint8_t first = body[0];
  switch (tag.type) {
    case kAudioTag:
      if ((first >> 4) == kEnhancedAudio) {
        // Packet types 0 to 2, 4 (channel configuration), 5 (multitrack)
        // and 7 (ModEx); a FourCC after the first byte where one comes next.
        const int type = first & 0x0f;
        if (type == 3 || type == 6 || type > 7) return false;
        return type >= 5 || PrintableFourCc(body);
      }
      if (!KnownAudioCodec(first >> 4)) return false;
      // An AAC packet is a configuration (0) or raw data (1).
      return (first >> 4) != kAudioAac || body.size() < 2 || body[1] <= 1;
    case kVideoTag: {
      if (first & 0x80) {
        // Enhanced: a frame type, packet types 0 to 7, and a FourCC after
        // the first byte unless multitrack, ModEx or a command comes next.
        const int frameType = (first >> 4) & 0x07, type = first & 0x0f;
        if (frameType < 1 || frameType > 5 || type > 7) return false;
        return type >= 6 || frameType == 5 || PrintableFourCc(body);
      }
      const int frameType = first >> 4, codec = first & 0x0f;
      if (frameType < 1 || frameType > 5 || !(KnownVideoCodec(codec) || codec == 12)) {
        return false;
      }
      return (codec != kVideoH264 && codec != 12) || body.size() < 2 || body[1] <= 2;
    }
    default:
      // A script tag opens with its name: an AMF0 string, or an AMF3 switch.
      return first == 0x02 || first == 0x11;
  }
}

bool KnownVideoCodec(int id) { return id >= kVideoH263 && id <= kVideoH264; }

bool KnownAudioCodec(int id) { return (id >= 0 && id <= 11 && id != 9) || id == 14 || id == 15; }

std::string_view VideoCodecName(int id) {
  switch (id) {
    case kVideoH263:
      return "Sorenson H.263";
    case kVideoScreen:
      return "Screen Video";
    case kVideoVp6:
      return "On2 VP6";
    case kVideoVp6Alpha:
      return "On2 VP6 with alpha";
    case kVideoScreen2:
      return "Screen Video 2";
    case kVideoH264:
      return "H.264";
    case 12:  // under the CDN convention
      return "HEVC";
    default:
      return "unknown";
  }
}

std::string_view AudioCodecName(int id) {
  switch (id) {
    case kAudioPcmPlatform:
      return "PCM (platform endian)";
    case kAudioAdpcm:
      return "ADPCM";
    case kAudioMp3:
      return "MP3";
    case kAudioPcmLittle:
      return "PCM (little endian)";
    case kAudioNelly16k:
      return "Nellymoser 16 kHz mono";
    case kAudioNelly8k:
      return "Nellymoser 8 kHz mono";
    case kAudioNelly:
      return "Nellymoser";
    case kAudioAlaw:
      return "G.711 A-law";
    case kAudioMulaw:
      return "G.711 \u00b5-law";
    case kAudioAac:
      return "AAC";
    case kAudioSpeex:
      return "Speex";
    case kAudioMp38k:
      return "MP3 8 kHz";
    case kAudioDevice:
      return "Device-specific sound";
    default:
      return "unknown";
  }
}

AudioFormat AudioFormatFromFlags(uint8_t flags) {
  static constexpr int kRates[4] = {5512, 11025, 22050, 44100};
  AudioFormat format;
  format.sampleRate = kRates[(flags >> 2) & 3];
  format.sampleBits = (flags & 0x02) ? 16 : 8;
  format.channels = (flags & 0x01) ? 2 : 1;
  switch (flags >> 4) {
    case kAudioNelly16k:
      format = {16000, 16, 1};
      break;
    case kAudioNelly8k:
      format = {8000, 16, 1};
      break;
    case kAudioSpeex:
      format = {16000, 16, 1};
      break;
    case kAudioAlaw:
    case kAudioMulaw:
      format.sampleRate = 8000;
      break;
    case kAudioMp38k:
      format.sampleRate = 8000;
      break;
    default:
      break;
  }
  return format;
}

}  // namespace flv_reader
