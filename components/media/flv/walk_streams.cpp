#include "media/flv/walk_streams.h"

#include <algorithm>
#include <optional>
#include <string>

#include "media/flv/codec_headers.h"
#include "media/flv/media_tag.h"
#include "media/flv/text_format.h"
#include "media/flv/walk_modern.h"
#include "media/flv/walk_track.h"

namespace flv_reader::walk {
namespace {

// Frames whose headers are read for a picture size before giving up on a
// codec whose frames do not say it.
constexpr int kPictureAttempts = 16;
constexpr int64_t kMaxAvcConfigBytes = 4096;

// Enhanced tags, and HEVC under codec id 12, are read by their own walk.
bool Modern(const TagHeader& tag, uint8_t first) {
  if (tag.type == kAudioTag) return (first >> 4) == kAudioExHeader;
  return (first & 0x80) || (first & 0x0f) == kVideoHevc;
}

std::optional<PictureSize> FramePictureSize(int codec, std::span<const uint8_t> bytes) {
  switch (codec) {
    case kVideoH263:
      return H263PictureSize(bytes);
    case kVideoScreen:
    case kVideoScreen2:
      return ScreenVideoPictureSize(bytes);
    case kVideoVp6:
    case kVideoVp6Alpha:
      return Vp6PictureSize(bytes, codec == kVideoVp6Alpha);
    default:
      return std::nullopt;
  }
}

}  // namespace

void OnAudio(Pass& p, int64_t at, const TagHeader& tag, std::span<const uint8_t> body) {
  ++p.s.facts.streams.audio.tags;
  if (!body.empty() && Modern(tag, body[0])) return OnModernTag(p, at, tag, body);
  const std::optional<Track> track = TrackFor(p, true, 0);
  if (!track) return;
  StreamFacts& a = track->facts;
  StreamState& st = track->state;
  ++st.trackTags;
  a.payloadBytes += tag.dataSize;
  if (body.empty()) return;
  const uint8_t flags = body[0];
  const int codec = flags >> 4;
  const bool changed = st.currentCodec != CodecTag{codec, 0};
  TrackCodec(p, *track, {codec, 0}, false, at, tag.timestamp);
  if (codec == kAudioAac && body.size() >= 2 && body[1] == 0) {
    // AudioSpecificConfig: the real rate and channels, not a frame.
    const int64_t n = std::min<int64_t>(tag.dataSize - 2, 64);
    if (const uint8_t* config = p.r.Get(at + kTagHeaderBytes + 2, n)) {
      if (auto format = AacConfigFormat({config, static_cast<size_t>(n)})) {
        a.sampleRate = format->sampleRate;
        if (format->channels > 0) a.channels = format->channels;
        a.sampleBits = 16;
        a.formatFromCodecHeader = true;
        st.samplesPerFrame = format->samplesPerFrame;
      }
    }
    Step(p, *track, false, at, tag.timestamp, false);
    return;
  }
  if (changed || a.frames == 0) {
    if (!(codec == kAudioAac && a.formatFromCodecHeader)) {
      const AudioFormat format = AudioFormatFromFlags(flags);
      a.sampleRate = format.sampleRate;
      a.sampleBits = format.sampleBits;
      a.channels = format.channels;
      a.formatFromCodecHeader = false;
      st.samplesPerFrame = codec == kAudioAac ? 1024 : 0;
    }
    if (codec == kAudioMp3 || codec == kAudioMp38k) {
      if (auto format = MpegAudioFormat(body.subspan(1))) {
        a.sampleRate = format->sampleRate;
        a.channels = format->channels;
        a.formatFromCodecHeader = true;
        st.samplesPerFrame = format->samplesPerFrame;
      }
    }
  }
  Step(p, *track, false, at, tag.timestamp, true);
  if (track->main) IndexAudio(p, at, tag.timestamp);
}

void OnVideo(Pass& p, int64_t at, const TagHeader& tag, std::span<const uint8_t> body) {
  ++p.s.facts.streams.video.tags;
  if (!body.empty() && Modern(tag, body[0])) return OnModernTag(p, at, tag, body);
  const std::optional<Track> track = TrackFor(p, false, 0);
  if (!track) return;
  StreamFacts& v = track->facts;
  StreamState& st = track->state;
  ++st.trackTags;
  v.payloadBytes += tag.dataSize;
  if (body.empty()) return;
  const int frameType = body[0] >> 4;
  const int codec = body[0] & 0x0f;
  TrackCodec(p, *track, {codec, 0}, true, at, tag.timestamp);
  if (frameType == 5) return;  // a command frame: no picture
  if (codec == kVideoH264 && body.size() >= 2 && body[1] != 1) {
    // Sequence header (0) or end of sequence (2): not a frame.
    if (body[1] == 0 && v.sizeFrom != SizeFrom::kFrameHeader && tag.dataSize > 5) {
      const int64_t n = std::min<int64_t>(tag.dataSize - 5, kMaxAvcConfigBytes);
      if (const uint8_t* record = p.r.Get(at + kTagHeaderBytes + 5, n)) {
        if (auto size = AvcConfigPictureSize({record, static_cast<size_t>(n)})) {
          v.width = size->width;
          v.height = size->height;
          v.sizeFrom = SizeFrom::kFrameHeader;
        }
      }
    }
    Step(p, *track, true, at, tag.timestamp, false);
    return;
  }
  if (v.sizeFrom != SizeFrom::kFrameHeader && codec != kVideoH264 &&
      st.pictureAttempts < kPictureAttempts && tag.dataSize > 1) {
    ++st.pictureAttempts;
    const int64_t n = std::min<int64_t>(tag.dataSize - 1, 32);
    if (const uint8_t* frame = p.r.Get(at + kTagHeaderBytes + 1, n)) {
      if (auto size = FramePictureSize(codec, {frame, static_cast<size_t>(n)})) {
        v.width = size->width;
        v.height = size->height;
        v.sizeFrom = SizeFrom::kFrameHeader;
      }
    }
  }
  if (frameType == 1) {
    ++v.keyframes;
    if (track->main) p.s.videoIndex.Add({tag.timestamp, at}, p.o.maxIndexEntries);
  }
  Step(p, *track, true, at, tag.timestamp, true);
  if (codec == kVideoH264 && body.size() >= 5) {
    // The composition offset, a signed 24-bit number.
    const int32_t offset = static_cast<int32_t>(ReadU24(body.data() + 2) << 8) >> 8;
    NoteShown(v, tag.timestamp, offset, p.o.leapMs);
  }
}

void DeriveStream(StreamFacts& stream, const StreamState& state, bool video,
                  const Metadata& metadata, int64_t leapMs) {
  // ModEx offsets refine the steps below the millisecond.
  const double stepSum =
      static_cast<double>(state.stepSum) + static_cast<double>(state.stepNsSum) / 1e6;
  if (state.steps > 0) {
    stream.frameMs = std::max(stepSum, 0.0) / static_cast<double>(state.steps);
  } else if (!video && state.samplesPerFrame > 0 && stream.sampleRate > 0) {
    stream.frameMs = state.samplesPerFrame * 1000.0 / stream.sampleRate;
  } else if (video && metadata.framerate && *metadata.framerate >= 0.1 &&
             *metadata.framerate <= 1000) {
    stream.frameMs = 1000.0 / *metadata.framerate;
  }
  stream.frameMs = std::min(stream.frameMs, static_cast<double>(leapMs));
  if (video && state.stepSum > 0 && stepSum > 0) {
    stream.frameRate = static_cast<double>(state.steps) * 1000.0 / stepSum;
  }
  if (stream.frames > 0) {
    stream.contentMs = state.stepSum + ClampedRound(stream.frameMs);
    const double span = static_cast<double>(stream.maxMs - stream.firstMs) + stream.frameMs;
    if (span > 0) stream.kbitPerSecond = static_cast<double>(stream.payloadBytes) * 8.0 / span;
  }
}

}  // namespace flv_reader::walk
