#include "media/flv/walk_streams.h"

#include <algorithm>
#include <optional>
#include <string>

#include "media/flv/codec_headers.h"
#include "media/flv/text_format.h"

namespace flv_reader::walk {
namespace {

// Frames whose headers are read for a picture size before giving up on a
// codec whose frames do not say it.
constexpr int kPictureAttempts = 16;
constexpr size_t kMaxCodecsListed = 8;
constexpr int64_t kMaxAvcConfigBytes = 4096;

void TrackCodec(Pass& p, StreamFacts& stream, StreamState& state, int codec, bool video, int64_t at,
                int64_t ms) {
  if (state.currentCodec == codec) return;
  if (state.currentCodec >= 0) {
    auto name = [&](int id) {
      return std::string(video ? VideoCodecName(id) : AudioCodecName(id)) + " (" +
             std::to_string(id) + ")";
    };
    p.Problem(ProblemKind::kCodecChange, at, ms,
              std::string(video ? "video" : "audio") + " codec changes from " +
                  name(state.currentCodec) + " to " + name(codec));
    state.pictureAttempts = 0;
  }
  if (stream.codecId < 0) stream.codecId = codec;
  if (stream.codecIds.size() < kMaxCodecsListed &&
      std::find(stream.codecIds.begin(), stream.codecIds.end(), codec) == stream.codecIds.end()) {
    stream.codecIds.push_back(codec);
  }
  state.currentCodec = codec;
}

// A frame, or codec configuration (frame false): both take part in the
// checks for leaps and steps back, only frames in the timeline.
void Step(Pass& p, StreamFacts& stream, StreamState& state, bool video, int64_t at, int64_t ms,
          bool frame) {
  if (frame) {
    ++stream.frames;
    if (stream.firstMs < 0) stream.firstMs = ms;
  }
  if (state.prevMs >= 0) {
    const int64_t step = ms - state.prevMs;
    auto text = [&](const char* how, int64_t length) {
      return std::string(video ? "video" : "audio") + " timestamps " + how + " " +
             FormatLength(length) + ", from " + FormatClock(state.prevMs) + " to " +
             FormatClock(ms);
    };
    if (step > p.o.leapMs) {
      ++stream.leaps;
      p.Problem(ProblemKind::kTimestampLeap, at, ms, text("leap ahead", step));
    } else if (step < 0) {
      ++stream.backwards;
      p.Problem(ProblemKind::kTimestampBackwards, at, ms, text("step back", -step));
    } else if (frame && state.prevWasFrame) {
      state.stepSum += step;
      ++state.steps;
    }
  }
  state.prevMs = ms;
  state.prevWasFrame = frame;
  if (!frame) return;
  stream.lastMs = ms;
  stream.maxMs = std::max(stream.maxMs, ms);
  p.s.lastMediaMs = ms;
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
  StreamFacts& a = p.s.facts.audio;
  StreamState& st = p.s.audio;
  ++a.tags;
  a.payloadBytes += tag.dataSize;
  if (body.empty()) return;
  const uint8_t flags = body[0];
  const int codec = flags >> 4;
  const bool changed = st.currentCodec != codec;
  TrackCodec(p, a, st, codec, false, at, tag.timestamp);
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
    Step(p, a, st, false, at, tag.timestamp, false);
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
  Step(p, a, st, false, at, tag.timestamp, true);
  SparseIndex& index = p.s.audioIndex;
  if (index.lastMs < 0 || int64_t{tag.timestamp} - index.lastMs >= p.o.audioIndexSpacingMs ||
      int64_t{tag.timestamp} < index.lastMs) {
    index.lastMs = tag.timestamp;
    index.Add({tag.timestamp, at}, p.o.maxIndexEntries);
  }
}

void OnVideo(Pass& p, int64_t at, const TagHeader& tag, std::span<const uint8_t> body) {
  StreamFacts& v = p.s.facts.video;
  StreamState& st = p.s.video;
  ++v.tags;
  v.payloadBytes += tag.dataSize;
  if (body.empty()) return;
  const int frameType = body[0] >> 4;
  const int codec = body[0] & 0x0f;
  TrackCodec(p, v, st, codec, true, at, tag.timestamp);
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
    Step(p, v, st, true, at, tag.timestamp, false);
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
    p.s.videoIndex.Add({tag.timestamp, at}, p.o.maxIndexEntries);
  }
  Step(p, v, st, true, at, tag.timestamp, true);
}

void DeriveStream(StreamFacts& stream, const StreamState& state, bool video,
                  const Metadata& metadata, int64_t leapMs) {
  if (state.steps > 0) {
    stream.frameMs = static_cast<double>(state.stepSum) / static_cast<double>(state.steps);
  } else if (!video && state.samplesPerFrame > 0 && stream.sampleRate > 0) {
    stream.frameMs = state.samplesPerFrame * 1000.0 / stream.sampleRate;
  } else if (video && metadata.framerate && *metadata.framerate >= 0.1 &&
             *metadata.framerate <= 1000) {
    stream.frameMs = 1000.0 / *metadata.framerate;
  }
  stream.frameMs = std::min(stream.frameMs, static_cast<double>(leapMs));
  if (video && state.stepSum > 0) {
    stream.frameRate =
        static_cast<double>(state.steps) * 1000.0 / static_cast<double>(state.stepSum);
  }
  if (stream.frames > 0) {
    stream.contentMs = state.stepSum + ClampedRound(stream.frameMs);
    const double span = static_cast<double>(stream.maxMs - stream.firstMs) + stream.frameMs;
    if (span > 0) stream.kbitPerSecond = static_cast<double>(stream.payloadBytes) * 8.0 / span;
  }
}

}  // namespace flv_reader::walk
