#include "media/mkv/tracks.h"

#include <algorithm>
#include <vector>

#include "media/flv/flv_format.h"

namespace mkv {
namespace {

using flv_reader::FourCc;
using flv_reader::MediaPacket;

// A configuration record larger than this is not one.
constexpr uint32_t kMaxConfigBytes = 1 << 20;

StreamKey KeyOf(const MediaPacket& packet) {
  return {packet.audio, packet.fourCc, packet.legacyCodec, packet.trackId};
}

bool IsModern(const MediaPacket& packet) {
  return packet.fourCc != 0 || (!packet.audio && packet.legacyCodec == 12);
}

void AacConfig(Track& track, std::span<const uint8_t> config) {
  static constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                   22050, 16000, 12000, 11025, 8000,  7350};
  if (config.size() < 2) return;
  const int index = (config[0] & 0x07) << 1 | config[1] >> 7;
  const int channels = (config[1] >> 3) & 0x0f;
  if (index < 13) track.sampleRate = kRates[index];
  if (channels > 0 && channels < 8) track.channels = channels == 7 ? 8 : channels;
}

void OpusConfig(Track& track, std::span<const uint8_t> config) {
  // OpusHead: magic, version, channels, pre-skip (little-endian), rate, ...
  track.sampleRate = 48000;
  track.seekPreRollNs = 80000000;
  if (config.size() < 12) return;
  track.channels = config[9];
  const uint32_t preSkip = uint32_t{config[10]} | uint32_t{config[11]} << 8;
  track.codecDelayNs = uint64_t{preSkip} * 1000000000 / 48000;
}

void FlacConfig(Track& track, std::span<const uint8_t> config) {
  // Matroska wants the "fLaC" marker before the metadata blocks; some
  // writers leave it out of the sequence header.
  Bytes& out = track.codecPrivate;
  const bool marked = config.size() >= 4 && config[0] == 'f' && config[1] == 'L' &&
                      config[2] == 'a' && config[3] == 'C';
  if (!marked) out.insert(out.begin(), {'f', 'L', 'a', 'C'});
  // STREAMINFO: the first block, 4 bytes of header, then its fields.
  const size_t info = marked ? 8 : 4;
  if (out.size() < info + 14) return;
  const uint8_t* d = out.data() + info;
  track.sampleRate = double(uint32_t{d[10]} << 12 | uint32_t{d[11]} << 4 | d[12] >> 4);
  track.channels = ((d[12] >> 1) & 7) + 1;
  track.bitDepth = ((d[12] & 1) << 4 | d[13] >> 4) + 1;
}

// A tag's body fetched from the file as the reader asks for it.
class SourceBody final : public flv_reader::BodyBytes {
 public:
  SourceBody(const flv_reader::ByteSource& source, int64_t at, size_t size)
      : source_(source), at_(at), size_(size) {}
  std::span<const uint8_t> Get(size_t offset, size_t n) const override {
    if (offset >= size_) return {};
    buffer_.resize(std::min(n, size_ - offset));
    const int64_t got =
        source_.ReadAt(at_ + int64_t(offset), buffer_.data(), int64_t(buffer_.size()));
    return std::span<const uint8_t>(buffer_.data(), size_t(std::max<int64_t>(got, 0)));
  }

 private:
  const flv_reader::ByteSource& source_;
  int64_t at_;
  size_t size_;
  mutable std::vector<uint8_t> buffer_;
};

}  // namespace

std::string StreamName(const StreamKey& key) {
  if (key.fourCc == 0) {
    if (!key.audio && key.legacyCodec == 12) return "HEVC (codec id 12)";
    if (!key.audio && key.legacyCodec == flv_reader::kVideoH264) return "H.264";
    return (key.audio ? "FLV sound format " : "FLV video codec ") + std::to_string(key.legacyCodec);
  }
  std::string fourCc;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = char(key.fourCc >> shift);
    fourCc += c >= 0x20 && c < 0x7f ? c : '?';
  }
  static const std::pair<const char*, const char*> kNames[] = {
      {"hvc1", "HEVC"}, {"av01", "AV1"},  {"vp09", "VP9"},  {"avc1", "H.264"},
      {"Opus", "Opus"}, {"fLaC", "FLAC"}, {"ac-3", "AC-3"}, {"ec-3", "E-AC-3"},
      {".mp3", "MP3"},  {"mp4a", "AAC"},  {"vp08", "VP8"},
  };
  for (const auto& [code, name] : kNames) {
    if (fourCc == code) return std::string(name) + " (" + fourCc + ")";
  }
  return "a stream of FourCC " + fourCc;
}

std::string CodecIdFor(const StreamKey& key) {
  if (!key.audio) {
    if (key.legacyCodec == flv_reader::kVideoH264 || key.fourCc == FourCc("avc1")) {
      return "V_MPEG4/ISO/AVC";
    }
    if (key.legacyCodec == 12 || key.fourCc == FourCc("hvc1")) return "V_MPEGH/ISO/HEVC";
    if (key.fourCc == FourCc("av01")) return "V_AV1";
    if (key.fourCc == FourCc("vp09")) return "V_VP9";
    return {};
  }
  if (key.legacyCodec == flv_reader::kAudioAac || key.fourCc == FourCc("mp4a")) return "A_AAC";
  if (key.legacyCodec == flv_reader::kAudioMp3 || key.legacyCodec == flv_reader::kAudioMp38k ||
      key.fourCc == FourCc(".mp3")) {
    return "A_MPEG/L3";
  }
  if (key.fourCc == FourCc("Opus")) return "A_OPUS";
  if (key.fourCc == FourCc("fLaC")) return "A_FLAC";
  if (key.fourCc == FourCc("ac-3")) return "A_AC3";
  if (key.fourCc == FourCc("ec-3")) return "A_EAC3";
  return {};
}

bool NeedsConfig(const StreamKey& key) {
  const std::string codec = CodecIdFor(key);
  return codec == "V_MPEG4/ISO/AVC" || codec == "V_MPEGH/ISO/HEVC" || codec == "A_AAC" ||
         codec == "A_FLAC";
}

bool ApplyConfig(Track& track, const StreamKey& key, std::span<const uint8_t> config) {
  const std::string codec = CodecIdFor(key);
  // The fixed part of each record: a shorter one was cut short, and a
  // decoder given it would fail on every frame.
  const size_t least = codec == "V_MPEGH/ISO/HEVC"  ? 23
                       : codec == "V_MPEG4/ISO/AVC" ? 7
                       : codec == "V_AV1"           ? 4
                       : codec == "A_AAC"           ? 2
                       : codec == "A_OPUS"          ? 19
                       : codec == "A_FLAC"          ? 38
                                                    : 0;
  if (config.size() < least) return false;
  track.codecPrivate.assign(config.begin(), config.end());
  if (codec == "A_AAC") AacConfig(track, config);
  if (codec == "A_OPUS") OpusConfig(track, config);
  if (codec == "A_FLAC") FlacConfig(track, config);
  return true;
}

Routes FindRoutes(const flv_reader::ByteSource& source, int64_t dataStart,
                  const flv_reader::Facts& facts, int maxTags, int64_t maxBytes) {
  Routes routes;
  bool configured[2] = {false, false};
  std::vector<uint8_t> body;
  int64_t at = dataStart;
  for (int tags = 0; tags < maxTags && at - dataStart < maxBytes; ++tags) {
    uint8_t head[flv_reader::kTagHeaderBytes];
    if (source.ReadAt(at, head, sizeof head) != int64_t(sizeof head)) break;
    const flv_reader::TagHeader tag = flv_reader::ParseTagHeader(head);
    if (!flv_reader::PlausibleTag(tag)) break;
    const int64_t next =
        at + flv_reader::kTagHeaderBytes + tag.dataSize + flv_reader::kPrevSizeBytes;
    if ((tag.type == flv_reader::kAudioTag || tag.type == flv_reader::kVideoTag) &&
        !tag.encrypted()) {
      // Only the packets' headers are read, and the configuration records.
      const SourceBody bytes(source, at + flv_reader::kTagHeaderBytes, tag.dataSize);
      const flv_reader::MediaTag media = flv_reader::ParseMediaTag(tag.type, tag.dataSize, bytes);
      for (size_t i = 0; i < media.count && i < flv_reader::kMaxPacketsPerTag; ++i) {
        const MediaPacket& packet = media.packets[i];
        // A FourCC this player does not know still names a stream, one that
        // cannot be played.
        const bool unknownCodec = packet.kind == MediaPacket::Kind::kUnknown && packet.fourCc != 0;
        if (packet.kind != MediaPacket::Kind::kConfig && packet.kind != MediaPacket::Kind::kFrame &&
            !unknownCodec) {
          continue;
        }
        if (media.enhanced || IsModern(packet)) routes.modern = true;
        Route& route = packet.audio ? routes.audio : routes.video;
        if (!route.present) {
          route.present = true;
          route.key = KeyOf(packet);
          route.track.video = !packet.audio;
          route.track.number = packet.audio ? kAudioTrack : kVideoTrack;
          route.track.codecId = CodecIdFor(route.key);
        }
        bool& done = configured[packet.audio ? 1 : 0];
        if (!done && packet.kind == MediaPacket::Kind::kConfig && route.key.Matches(packet) &&
            packet.payloadSize <= kMaxConfigBytes) {
          body.resize(packet.payloadSize);
          const int64_t from = at + flv_reader::kTagHeaderBytes + int64_t(packet.payloadOffset);
          if (source.ReadAt(from, body.data(), int64_t(body.size())) != int64_t(body.size())) {
            body.clear();
          }
          done = ApplyConfig(route.track, route.key, body);
          if (!done) route.why = "its configuration record is cut short";
        }
        if (!done && packet.kind == MediaPacket::Kind::kFrame && route.key.Matches(packet) &&
            !NeedsConfig(route.key)) {
          done = true;
        }
      }
    }
    at = next;
    const bool videoSettled = !routes.video.present || configured[0];
    const bool audioSettled = !routes.audio.present || configured[1];
    // Both streams found and described; a file whose header promises a
    // stream not seen yet is read on for it.
    if (videoSettled && audioSettled && (routes.video.present || !facts.file.header.videoFlag()) &&
        (routes.audio.present || !facts.file.header.audioFlag())) {
      break;
    }
  }
  for (int kind = 0; kind < 2; ++kind) {
    Route& route = kind ? routes.audio : routes.video;
    if (!route.present) continue;
    const flv_reader::StreamFacts& measured = kind ? facts.streams.audio : facts.streams.video;
    if (route.track.video) {
      route.track.width = measured.width;
      route.track.height = measured.height;
    } else {
      if (route.track.sampleRate <= 0) route.track.sampleRate = measured.sampleRate;
      if (route.track.channels <= 0) route.track.channels = measured.channels;
    }
    if (route.track.codecId.empty()) {
      route.why = "this player has no decoder for it";
    } else if (NeedsConfig(route.key) && !configured[kind]) {
      if (route.why.empty()) route.why = "its configuration record is missing";
    } else {
      route.playable = true;
    }
    if (!route.playable) route.why = StreamName(route.key) + ": " + route.why;
  }
  return routes;
}

}  // namespace mkv
