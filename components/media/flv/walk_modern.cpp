#include "media/flv/walk_modern.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>

#include "media/flv/audio_configs.h"
#include "media/flv/codec_headers.h"
#include "media/flv/codec_names.h"
#include "media/flv/media_tag.h"
#include "media/flv/text_format.h"
#include "media/flv/video_configs.h"
#include "media/flv/walk_track.h"

namespace flv_reader::walk {
namespace {

using Kind = MediaPacket::Kind;

// Key frames whose headers are read for a picture size before giving up.
constexpr int kPictureAttempts = 16;
// No configuration record is larger; a larger one is read this far.
constexpr int64_t kMaxConfigBytes = int64_t{64} << 10;
// Enough of a key frame for VP9's and VP8's headers, or an AV1 temporal
// unit's delimiter and sequence header.
constexpr int64_t kFrameHeaderBytes = 256;

// A tag's body: its first bytes as the walk peeked them, the rest from the
// walk's reader, a few bytes at a time.
class FileBody final : public BodyBytes {
 public:
  FileBody(Reader& reader, int64_t at, std::span<const uint8_t> peeked)
      : reader_(reader), at_(at), peeked_(peeked) {}
  std::span<const uint8_t> Get(size_t offset, size_t n) const override {
    if (offset <= peeked_.size() && n <= peeked_.size() - offset) return peeked_.subspan(offset, n);
    const uint8_t* bytes = reader_.Get(at_ + static_cast<int64_t>(offset), static_cast<int64_t>(n));
    return bytes ? std::span<const uint8_t>(bytes, n) : std::span<const uint8_t>();
  }

 private:
  Reader& reader_;
  int64_t at_;
  std::span<const uint8_t> peeked_;
};

std::span<const uint8_t> Payload(Pass& p, int64_t bodyAt, const MediaPacket& m, int64_t limit) {
  const int64_t n = std::min<int64_t>(static_cast<int64_t>(m.payloadSize), limit);
  const uint8_t* bytes = p.r.Get(bodyAt + static_cast<int64_t>(m.payloadOffset), n);
  return bytes ? std::span<const uint8_t>(bytes, static_cast<size_t>(n))
               : std::span<const uint8_t>();
}

CodecTag CodecOf(const MediaPacket& m) { return {m.legacyCodec, m.fourCc}; }

// Codecs whose decoder cannot start without the configuration record.
bool NeedsConfig(const CodecTag& c) {
  return c.legacy == kVideoHevc || c.fourCc == kFourCcHevc || c.fourCc == kFourCcAvc ||
         c.fourCc == kFourCcAac || c.fourCc == kFourCcFlac;
}

void ApplyVideo(Track t, const VideoFormat& f, bool withSize) {
  StreamFacts& s = t.facts;
  if (withSize && f.size.width > 0) {
    s.width = f.size.width;
    s.height = f.size.height;
    s.sizeFrom = SizeFrom::kFrameHeader;
  }
  if (f.profile >= 0) s.profile = f.profile;
  if (f.bitDepth > 0) s.bitDepth = f.bitDepth;
  if (f.chromaFormat >= 0) s.chromaFormat = f.chromaFormat;
}

void ApplySound(Track t, const SoundFormat& f, int sampleBits) {
  if (f.sampleRate > 0) t.facts.sampleRate = f.sampleRate;
  if (f.channels > 0) t.facts.channels = f.channels;
  t.facts.sampleBits = sampleBits;
  t.facts.formatFromCodecHeader = true;
  t.state.samplesPerFrame = f.samplesPerFrame;
}

// Reads a configuration record into the track's figures; false when the
// record says nothing this reader can use.
bool ReadVideoConfig(Track t, const CodecTag& c, std::span<const uint8_t> record) {
  std::optional<VideoFormat> format;
  if (c.legacy == kVideoHevc || c.fourCc == kFourCcHevc) {
    if (const auto hevc = ParseHevcConfig(record)) format = hevc->format;
  } else if (c.fourCc == kFourCcAvc) {
    format = AvcConfigFormat(record);
  } else if (c.fourCc == kFourCcAv1) {
    if (const auto av1 = ParseAv1Config(record)) format = av1->format;
  } else if (c.fourCc == kFourCcVp9 || c.fourCc == kFourCcVp8) {
    format = ParseVpConfig(record);
  }
  if (format) ApplyVideo(t, *format, true);
  return format.has_value();
}

bool ReadSoundConfig(Track t, const CodecTag& c, std::span<const uint8_t> record) {
  if (c.fourCc == kFourCcAac) {
    const auto aac = AacConfigFormat(record);
    if (aac) ApplySound(t, *aac, 0);
    return aac.has_value();
  }
  if (c.fourCc == kFourCcOpus) {
    if (record.empty()) return true;  // mono or stereo, or a channel configuration
    const auto opus = ParseOpusHead(record);
    if (opus) ApplySound(t, {48000, opus->channels, 0}, 0);
    return opus.has_value();
  }
  if (c.fourCc == kFourCcFlac) {
    const auto flac = ParseFlacConfig(record);
    if (flac) ApplySound(t, flac->format, flac->bitsPerSample);
    return flac.has_value();
  }
  return true;  // the others describe themselves in every frame
}

// Whether a frame's own header may tell what the configuration left out:
// the picture size of a key frame, a sound format not yet known.
bool WantsFrameHeader(Track t, bool audio, bool key) {
  if (t.state.pictureAttempts >= kPictureAttempts) return false;
  return audio ? t.facts.sampleRate == 0 : key && t.facts.sizeFrom != SizeFrom::kFrameHeader;
}

// The format a frame's own header tells, for codecs whose configuration
// leaves the picture size or the sound format out.
void ReadFrameHeader(Track t, const CodecTag& c, bool audio, std::span<const uint8_t> frame) {
  ++t.state.pictureAttempts;
  if (audio) {
    if (c.fourCc == kFourCcMp3) {
      if (const auto f = MpegAudioFormat(frame)) ApplySound(t, *f, 0);
    } else if (c.fourCc == kFourCcAc3 || c.fourCc == kFourCcEac3) {
      if (const auto f = Ac3FrameFormat(frame)) ApplySound(t, f->format, 0);
    } else if (c.fourCc == kFourCcOpus) {
      t.facts.sampleRate = 48000;  // whatever the input was
    }
    return;
  }
  std::optional<VideoFormat> format;
  if (c.fourCc == kFourCcVp9) {
    format = Vp9FrameFormat(frame);
  } else if (c.fourCc == kFourCcAv1) {
    format = Av1SequenceHeaderFormat(frame);
  } else if (c.fourCc == kFourCcVp8) {
    if (const auto size = Vp8FramePictureSize(frame)) format = VideoFormat{*size, -1, -1, 8, 1};
  }
  if (format) ApplyVideo(t, *format, true);
}

void OnPacket(Pass& p, int64_t at, const TagHeader& tag, const MediaTag& mt, const MediaPacket& m) {
  const bool audio = tag.type == kAudioTag;
  const int64_t bodyAt = at + kTagHeaderBytes;
  const std::optional<Track> track = TrackFor(p, audio, m.trackId);
  if (!track) return;
  const Track t = *track;
  ++t.state.trackTags;
  // A tag of one packet counts whole toward its track, as legacy tags do.
  t.facts.payloadBytes += mt.count == 1 ? int64_t{tag.dataSize} : int64_t(m.payloadSize);
  const CodecTag codec = CodecOf(m);
  const int64_t ms = tag.timestamp;
  if (m.kind == Kind::kDamaged) {
    p.Problem(ProblemKind::kTagBody, at, ms,
              "a" + std::string(audio ? "n audio" : " video") +
                  " tag's body is cut short or inconsistent; what it holds is not counted");
    return;
  }
  const bool frame = CodedFrames(m);
  if (m.kind == Kind::kConfig || m.kind == Kind::kTsDescriptor || m.kind == Kind::kEndOfSequence ||
      frame || (m.kind == Kind::kUnknown && m.packetType == 0)) {
    TrackCodec(p, t, codec, !audio, at, ms);
  }
  switch (m.kind) {
    case Kind::kConfig: {
      t.state.configSeen = true;
      const auto record = Payload(p, bodyAt, m, kMaxConfigBytes);
      const bool read =
          audio ? ReadSoundConfig(t, codec, record) : ReadVideoConfig(t, codec, record);
      if (!read) {
        p.Problem(ProblemKind::kCodecConfig, at, ms,
                  CodecListName(codec, !audio) + ": the configuration record (" +
                      std::to_string(m.payloadSize) +
                      " bytes) is cut short or damaged; what it describes is unknown");
      }
      Step(p, t, !audio, at, ms, false, m.timestampOffsetNs);
      return;
    }
    case Kind::kTsDescriptor: {
      // An AV1 video descriptor: its tag and length, then av1C's first bytes.
      const auto descriptor = Payload(p, bodyAt, m, 16);
      if (descriptor.size() >= 6) {
        if (const auto av1 = ParseAv1Config(descriptor.subspan(2, 4))) {
          ApplyVideo(t, av1->format, false);
        }
      }
      t.state.configSeen = true;
      Step(p, t, !audio, at, ms, false, m.timestampOffsetNs);
      return;
    }
    case Kind::kChannelConfig:
      if (const auto n = ChannelConfigChannels(Payload(p, bodyAt, m, 1024))) t.facts.channels = *n;
      return;
    case Kind::kEndOfSequence:
      Step(p, t, !audio, at, ms, false, m.timestampOffsetNs);
      return;
    default:
      break;
  }
  if (!frame) return;
  if (NeedsConfig(codec) && !t.state.configSeen && !t.state.configMissingNamed) {
    t.state.configMissingNamed = true;
    p.Problem(ProblemKind::kCodecConfig, at, ms,
              CodecListName(codec, !audio) + ": frames from " + FormatClock(ms) +
                  " come before any configuration record; a decoder cannot start there");
  }
  if (m.kind == Kind::kFrame && WantsFrameHeader(t, audio, m.keyframe)) {
    ReadFrameHeader(t, codec, audio, Payload(p, bodyAt, m, kFrameHeaderBytes));
  }
  if (!audio && m.keyframe) {
    ++t.facts.keyframes;
    if (t.main) p.s.videoIndex.Add({tag.timestamp, at}, p.o.maxIndexEntries);
  }
  Step(p, t, !audio, at, ms, true, m.timestampOffsetNs);
  if (!audio) NoteShown(t.facts, ms, m.compositionMs, p.o.leapMs);
  if (audio && t.main) IndexAudio(p, at, ms);
}

}  // namespace

void OnModernTag(Pass& p, int64_t at, const TagHeader& tag, std::span<const uint8_t> peeked) {
  const FileBody body(p.r, at + kTagHeaderBytes, peeked);
  const MediaTag mt = ParseMediaTag(tag.type, tag.dataSize, body);
  const bool audio = tag.type == kAudioTag;
  if (mt.offsetIgnored) {
    p.Problem(ProblemKind::kTagBody, at, tag.timestamp,
              "a ModEx timestamp offset of a millisecond or more, or too short to hold one, in " +
                  std::string(audio ? "an audio" : "a video") + " tag: left out");
  }
  if (mt.tracksLeftOut) ++p.s.facts.streams.tracksLeftOut;
  if (mt.command) return;
  for (size_t i = 0; i < mt.count; ++i) OnPacket(p, at, tag, mt, mt.packets[i]);
}

}  // namespace flv_reader::walk
