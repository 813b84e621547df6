#include "media/flv/media_tag.h"

#include <algorithm>

#include "media/flv/flv_format.h"

namespace flv_reader {
namespace {

using Kind = MediaPacket::Kind;

// Enhanced packet types, video and audio.
constexpr uint8_t kSequenceStart = 0;
constexpr uint8_t kCodedFrames = 1;
constexpr uint8_t kSequenceEnd = 2;
constexpr uint8_t kCodedFramesX = 3;
constexpr uint8_t kVideoMetadata = 4;
constexpr uint8_t kMpeg2TsSequenceStart = 5;
constexpr uint8_t kVideoMultitrack = 6;
constexpr uint8_t kAudioMultichannelConfig = 4;
constexpr uint8_t kAudioMultitrack = 5;
constexpr uint8_t kModEx = 7;

constexpr int kVideoCommandFrame = 5;
constexpr int kKeyFrame = 1;

// Multitrack layouts; between them, ManyTracks (1): sizes, one FourCC.
constexpr int kOneTrack = 0;
constexpr int kManyTracksManyCodecs = 2;

// A chain of ModEx blocks longer than this is no writer's; each block may be
// up to 64 KiB, so the bound also bounds the bytes stepped over.
constexpr int kMaxModEx = 8;
constexpr int32_t kNanosecondsPerMs = 1000000;

class SpanBytes final : public BodyBytes {
 public:
  explicit SpanBytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  std::span<const uint8_t> Get(size_t offset, size_t n) const override {
    if (offset >= bytes_.size()) return {};
    return bytes_.subspan(offset, std::min(n, bytes_.size() - offset));
  }

 private:
  std::span<const uint8_t> bytes_;
};

// Reads big-endian fields in order; a field past the end of the body (or
// bytes that cannot be had) sets the flag and yields zero.
class Cursor {
 public:
  Cursor(const BodyBytes& bytes, size_t size) : bytes_(bytes), size_(size) {}
  uint32_t Read(size_t n) {
    if (failed_ || size_ - pos_ < n) return Fail();
    const std::span<const uint8_t> got = bytes_.Get(pos_, n);
    if (got.size() < n) return Fail();
    uint32_t value = 0;
    for (size_t i = 0; i < n; ++i) value = value << 8 | got[i];
    pos_ += n;
    return value;
  }
  bool Skip(size_t n) {
    if (failed_ || size_ - pos_ < n) return Fail(), false;
    pos_ += n;
    return true;
  }
  size_t pos() const { return pos_; }
  size_t size() const { return size_; }
  size_t left() const { return size_ - pos_; }
  bool failed() const { return failed_; }

 private:
  uint32_t Fail() {
    failed_ = true;
    return 0;
  }
  const BodyBytes& bytes_;
  size_t size_;
  size_t pos_ = 0;
  bool failed_ = false;
};

int32_t Si24(uint32_t value) {
  return static_cast<int32_t>(value & 0x800000 ? value | 0xff000000u : value);
}

MediaPacket& Add(MediaTag& tag, Kind kind) {
  MediaPacket& p = tag.packets[tag.count++];
  p.kind = kind;
  return p;
}

void Damaged(MediaTag& tag, bool audio) {
  if (tag.count >= kMaxPacketsPerTag) return;
  Add(tag, Kind::kDamaged).audio = audio;
}

MediaTag LegacyVideo(Cursor& c, uint8_t first) {
  MediaTag tag;
  const int frameType = first >> 4;
  const int codec = first & 0x0f;
  if (frameType == kVideoCommandFrame) {
    tag.command = true;
    return tag;
  }
  MediaPacket p;
  p.legacyCodec = codec;
  p.keyframe = frameType == kKeyFrame;
  p.payloadOffset = 1;
  switch (codec) {
    case kVideoH264:
    case kVideoHevc: {
      p.packetType = static_cast<uint8_t>(c.Read(1));
      p.compositionMs = Si24(c.Read(3));
      if (c.failed()) break;
      p.payloadOffset = 5;
      p.kind = p.packetType == 0   ? Kind::kConfig
               : p.packetType == 1 ? Kind::kFrame
               : p.packetType == 2 ? Kind::kEndOfSequence
                                   : Kind::kUnknown;
      break;
    }
    case kVideoVp6:
    case kVideoVp6Alpha:
      // The crop adjustments, and with alpha the offset of the alpha data.
      if (!c.Skip(codec == kVideoVp6 ? 1 : 4)) break;
      p.payloadOffset = c.pos();
      p.kind = Kind::kFrame;
      break;
    case kVideoH263:
    case kVideoScreen:
    case kVideoScreen2:
      p.kind = Kind::kFrame;
      break;
    default:
      p.kind = Kind::kUnknown;
      break;
  }
  if (c.failed()) p.kind = Kind::kDamaged;
  p.payloadSize = c.size() - std::min(p.payloadOffset, c.size());
  if (p.kind == Kind::kDamaged || p.kind == Kind::kEndOfSequence) p.payloadSize = 0;
  tag.packets[tag.count++] = p;
  return tag;
}

MediaTag LegacyAudio(Cursor& c, uint8_t first) {
  MediaTag tag;
  MediaPacket p;
  p.audio = true;
  p.keyframe = true;
  p.legacyCodec = first >> 4;
  p.payloadOffset = 1;
  if (p.legacyCodec == kAudioAac) {
    const uint32_t type = c.Read(1);
    if (!c.failed()) p.packetType = static_cast<uint8_t>(type);
    p.payloadOffset = c.pos();
    p.kind = c.failed()          ? Kind::kDamaged
             : p.packetType == 0 ? Kind::kConfig
             : p.packetType == 1 ? Kind::kFrame
                                 : Kind::kUnknown;
  } else {
    p.kind = KnownAudioCodec(p.legacyCodec) ? Kind::kFrame : Kind::kUnknown;
  }
  p.payloadSize = p.kind == Kind::kDamaged ? 0 : c.size() - std::min(p.payloadOffset, c.size());
  tag.packets[tag.count++] = p;
  return tag;
}

// The ModEx blocks before the packet type they modify. Returns the packet
// type that follows them; `offsetNs` gets the timestamp offset, if any.
uint8_t ReadModEx(Cursor& c, uint8_t packetType, MediaTag& tag, int32_t& offsetNs) {
  for (int n = 0; packetType == kModEx && !c.failed(); ++n) {
    if (n == kMaxModEx) {
      c.Skip(c.left() + 1);  // fails: no writer chains so many
      break;
    }
    size_t size = c.Read(1) + 1;
    if (size == 256) size = c.Read(2) + 1;
    // TimestampOffsetNano is the only kind defined, and its type comes after
    // its data: read the data as one, keep it if the type says so.
    const uint32_t value = size >= 3 ? c.Read(3) : 0;
    c.Skip(size >= 3 ? size - 3 : size);
    const uint32_t next = c.Read(1);
    if (c.failed()) break;
    if ((next >> 4) == 0) {
      if (size < 3 || value >= static_cast<uint32_t>(kNanosecondsPerMs)) {
        tag.offsetIgnored = true;
        offsetNs = 0;
      } else {
        offsetNs = static_cast<int32_t>(value);
      }
    }
    packetType = static_cast<uint8_t>(next & 0x0f);
  }
  return packetType;
}

// One track's packet of an enhanced tag: [c.pos(), end) of the body.
void EnhancedPacket(MediaTag& tag, Cursor& c, size_t end, bool audio, uint8_t type, uint32_t fourCc,
                    int frameType) {
  MediaPacket& p = Add(tag, Kind::kUnknown);
  p.audio = audio;
  p.fourCc = fourCc;
  p.packetType = type;
  p.keyframe = audio || frameType == kKeyFrame;
  const bool known = audio ? KnownAudioFourCc(fourCc) : KnownVideoFourCc(fourCc);
  if (type == kSequenceStart) {
    p.kind = known ? Kind::kConfig : Kind::kUnknown;
  } else if (type == kCodedFrames) {
    p.kind = known ? Kind::kFrame : Kind::kUnknown;
    // Only the codecs with reordered frames carry a composition time.
    if (!audio && (fourCc == kFourCcAvc || fourCc == kFourCcHevc)) {
      if (end - c.pos() < 3) {
        p.kind = Kind::kDamaged;
        return;
      }
      p.compositionMs = Si24(c.Read(3));
    }
  } else if (type == kSequenceEnd) {
    p.kind = Kind::kEndOfSequence;
    p.payloadOffset = end;
    return;
  } else if (!audio && type == kCodedFramesX) {
    p.kind = known ? Kind::kFrame : Kind::kUnknown;
  } else if (!audio && type == kVideoMetadata) {
    p.kind = Kind::kMetadata;
    p.keyframe = false;  // the frame type means nothing here
  } else if (!audio && type == kMpeg2TsSequenceStart) {
    p.kind = known ? Kind::kTsDescriptor : Kind::kUnknown;
  } else if (audio && type == kAudioMultichannelConfig) {
    p.kind = Kind::kChannelConfig;
  }
  if (c.failed()) {
    p.kind = Kind::kDamaged;
    return;
  }
  p.payloadOffset = c.pos();
  p.payloadSize = end - c.pos();
}

MediaTag Enhanced(Cursor& c, uint8_t first, bool audio) {
  MediaTag tag;
  tag.enhanced = true;
  const int frameType = audio ? kKeyFrame : (first >> 4) & 0x07;
  int32_t offsetNs = 0;
  uint8_t type = ReadModEx(c, first & 0x0f, tag, offsetNs);
  if (c.failed()) {
    Damaged(tag, audio);
    return tag;
  }
  if (!audio && frameType == kVideoCommandFrame && type != kVideoMetadata) {
    c.Read(1);  // the command
    tag.command = !c.failed();
    if (c.failed()) Damaged(tag, audio);
    return tag;
  }
  const uint8_t multitrackType = audio ? kAudioMultitrack : kVideoMultitrack;
  int layout = -1;
  if (type == multitrackType) {
    tag.multitrack = true;
    const uint32_t b = c.Read(1);
    layout = static_cast<int>(b >> 4);
    type = static_cast<uint8_t>(b & 0x0f);
    // Multitrack inside multitrack, or a ModEx after it, is no layout.
    if (c.failed() || type == multitrackType || type == kModEx) {
      Damaged(tag, audio);
      return tag;
    }
    if (layout > kManyTracksManyCodecs) {
      MediaPacket& p = Add(tag, Kind::kUnknown);
      p.audio = audio;
      p.packetType = type;
      return tag;
    }
  }
  uint32_t fourCc = layout == kManyTracksManyCodecs ? 0 : c.Read(4);
  if (c.failed()) {
    Damaged(tag, audio);
    return tag;
  }
  if (!tag.multitrack) {
    EnhancedPacket(tag, c, c.size(), audio, type, fourCc, frameType);
    tag.packets[0].timestampOffsetNs = offsetNs;
    return tag;
  }
  while (c.left() > 0) {
    if (tag.count == kMaxPacketsPerTag) {
      tag.tracksLeftOut = true;
      break;
    }
    if (layout == kManyTracksManyCodecs) fourCc = c.Read(4);
    const uint32_t trackId = c.Read(1);
    size_t end = c.size();
    if (layout != kOneTrack) {
      const size_t trackSize = c.Read(3);
      if (!c.failed() && trackSize > c.left()) c.Skip(c.left() + 1);
      end = c.pos() + trackSize;
    }
    if (c.failed()) {
      Damaged(tag, audio);
      tag.packets[tag.count - 1].fourCc = fourCc;
      break;
    }
    EnhancedPacket(tag, c, end, audio, type, fourCc, frameType);
    MediaPacket& p = tag.packets[tag.count - 1];
    p.trackId = static_cast<uint8_t>(trackId);
    p.timestampOffsetNs = offsetNs;
    if (layout == kOneTrack || p.kind == Kind::kDamaged) break;
    c.Skip(end - c.pos());
  }
  if (tag.count == 0) Damaged(tag, audio);  // a multitrack tag with no track
  return tag;
}

}  // namespace

bool KnownVideoFourCc(uint32_t fourCc) {
  return fourCc == kFourCcAvc || fourCc == kFourCcHevc || fourCc == kFourCcAv1 ||
         fourCc == kFourCcVp9 || fourCc == kFourCcVp8;
}

bool KnownAudioFourCc(uint32_t fourCc) {
  return fourCc == kFourCcOpus || fourCc == kFourCcFlac || fourCc == kFourCcAc3 ||
         fourCc == kFourCcEac3 || fourCc == kFourCcMp3 || fourCc == kFourCcAac;
}

bool CodedFrames(const MediaPacket& p) {
  if (p.kind == Kind::kFrame) return true;
  if (p.kind != Kind::kUnknown) return false;
  if (p.fourCc == 0) return p.legacyCodec >= 0 && p.packetType == MediaPacket::kNoType;
  return p.packetType == kCodedFrames || (!p.audio && p.packetType == kCodedFramesX);
}

MediaTag ParseMediaTag(uint8_t tagType, size_t bodySize, const BodyBytes& body) {
  const bool audio = (tagType & 0x1f) == kAudioTag;
  Cursor c(body, bodySize);
  const uint32_t first = c.Read(1);
  if (c.failed()) return {};  // an empty body: silence, or nothing
  if (audio) {
    return (first >> 4) == kAudioExHeader ? Enhanced(c, static_cast<uint8_t>(first), true)
                                          : LegacyAudio(c, static_cast<uint8_t>(first));
  }
  return (first & 0x80) ? Enhanced(c, static_cast<uint8_t>(first), false)
                        : LegacyVideo(c, static_cast<uint8_t>(first));
}

MediaTag ParseMediaTag(uint8_t tagType, std::span<const uint8_t> body) {
  return ParseMediaTag(tagType, body.size(), SpanBytes(body));
}

}  // namespace flv_reader
