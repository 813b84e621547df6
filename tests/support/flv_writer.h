#pragma once

// Writes FLV files the way today's writers do, from elementary streams held
// in memory: the CDN convention (HEVC as video codec id 12 with AVC-like
// packets, AAC as sound format 10) and enhanced FLV (the ExHeader bit, packet
// types and FourCCs, multitrack, ModEx), single- and multitrack, and the
// damage real files show (no sequence header, a configuration record cut
// short, an unknown FourCC, track ids that jump, absurd ModEx offsets).
// Standard C++ only: the reader's unit tests, the Matroska view's and the
// integration tier share it.
//
// The bytes follow the writers they stand for: a SequenceStart tag with the
// configuration record (hvcC, av1C, vpcC, AudioSpecificConfig, OpusHead,
// "fLaC" and STREAMINFO) before the first frame, CodedFramesX for HEVC and
// AVC frames whose composition time is 0 and CodedFrames with an SI24 one
// otherwise, CodedFrames with no composition time for AV1 and VP9, a key
// frame flag from the packet, and a SequenceEnd tag at the end.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace flvwrite {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t FourCc(const char (&text)[5]) {
  return uint32_t(uint8_t(text[0])) << 24 | uint32_t(uint8_t(text[1])) << 16 |
         uint32_t(uint8_t(text[2])) << 8 | uint32_t(uint8_t(text[3]));
}

inline void Put8(Bytes& out, uint32_t v) { out.push_back(static_cast<uint8_t>(v)); }
inline void Put16(Bytes& out, uint32_t v) {
  Put8(out, v >> 8);
  Put8(out, v);
}
inline void Put24(Bytes& out, uint32_t v) {
  Put8(out, v >> 16);
  Put16(out, v);
}
inline void Put32(Bytes& out, uint32_t v) {
  Put16(out, v >> 16);
  Put16(out, v);
}
inline void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// Enhanced packet types (video; audio shares 0 to 2 and ModEx).
enum PacketType : uint8_t {
  kSequenceStart = 0,
  kCodedFrames = 1,
  kSequenceEnd = 2,
  kCodedFramesX = 3,
  kMetadata = 4,
  kMpeg2TsSequenceStart = 5,
  kVideoMultitrack = 6,
  kModEx = 7,
  kAudioMultichannelConfig = 4,
  kAudioMultitrack = 5,
};

enum class Layout : int { kSingle = -1, kOneTrack = 0, kManyTracks = 1, kManyTracksManyCodecs = 2 };

// One packet of an enhanced tag.
struct ExPacket {
  uint8_t type = kCodedFrames;
  uint32_t fourCc = 0;
  uint8_t trackId = 0;
  int32_t compositionMs = 0;  // written for CodedFrames of avc1 and hvc1
  Bytes payload;
};

inline bool HasCompositionTime(uint32_t fourCc) {
  return fourCc == FourCc("avc1") || fourCc == FourCc("hvc1");
}

// The ModEx block that carries a timestamp offset, written before the packet
// type it modifies; `dataBytes` below 3 makes one too short to hold it.
inline void PutModEx(Bytes& out, uint32_t offsetNs, uint8_t nextType, size_t dataBytes = 3) {
  Put8(out, static_cast<uint32_t>(dataBytes - 1));
  Bytes data(dataBytes, 0);
  if (dataBytes >= 3) {
    data[0] = static_cast<uint8_t>(offsetNs >> 16);
    data[1] = static_cast<uint8_t>(offsetNs >> 8);
    data[2] = static_cast<uint8_t>(offsetNs);
  }
  Append(out, data);
  Put8(out, 0x00 | nextType);  // TimestampOffsetNano, then the packet type
}

// An enhanced video (audio false) or audio tag body. `frameType` is the
// video frame type (1 key, 2 inter); a ModEx offset is written when given.
inline Bytes EnhancedBody(bool audio, int frameType, const std::vector<ExPacket>& packets,
                          Layout layout = Layout::kSingle,
                          std::optional<uint32_t> modExNs = std::nullopt) {
  Bytes out;
  if (packets.empty()) return out;
  const uint8_t type = packets.front().type;
  const uint8_t multitrack = audio ? kAudioMultitrack : kVideoMultitrack;
  const uint8_t headType = layout == Layout::kSingle ? type : multitrack;
  const uint32_t high = audio ? 0x90 : 0x80 | (frameType & 7) << 4;
  Put8(out, high | (modExNs ? uint8_t{kModEx} : headType));
  if (modExNs) PutModEx(out, *modExNs, headType);
  if (layout != Layout::kSingle) Put8(out, static_cast<uint32_t>(layout) << 4 | type);
  if (layout != Layout::kManyTracksManyCodecs) Put32(out, packets.front().fourCc);
  for (const ExPacket& p : packets) {
    if (layout == Layout::kManyTracksManyCodecs) Put32(out, p.fourCc);
    if (layout != Layout::kSingle) Put8(out, p.trackId);
    Bytes body;
    if (!audio && p.type == kCodedFrames && HasCompositionTime(p.fourCc)) {
      Put24(body, static_cast<uint32_t>(p.compositionMs) & 0xffffff);
    }
    Append(body, p.payload);
    if (layout == Layout::kManyTracks || layout == Layout::kManyTracksManyCodecs) {
      Put24(out, static_cast<uint32_t>(body.size()));
    }
    Append(out, body);
    if (layout == Layout::kSingle || layout == Layout::kOneTrack) break;
  }
  return out;
}

// A legacy AVC-like video body: codec id 7 (H.264) or 12 (HEVC), packet type
// 0 (configuration), 1 (frames) or 2 (end of sequence).
inline Bytes LegacyAvcLikeBody(int codecId, int frameType, uint8_t packetType,
                               int32_t compositionMs, const Bytes& payload) {
  Bytes out;
  Put8(out, static_cast<uint32_t>(frameType << 4 | codecId));
  Put8(out, packetType);
  Put24(out, static_cast<uint32_t>(compositionMs) & 0xffffff);
  Append(out, payload);
  return out;
}

// A legacy audio body: AAC (sound format 10, packet type 0 or 1) or another
// format whose flags byte is given whole.
inline Bytes LegacyAacBody(uint8_t packetType, const Bytes& payload) {
  Bytes out{0xaf, packetType};
  Append(out, payload);
  return out;
}

// One packet of an elementary stream: decoding time and presentation offset
// in milliseconds, a key frame flag, the bytes (length-prefixed NAL units for
// AVC and HEVC, a temporal unit for AV1, a frame for VP9, a packet for the
// sound codecs).
struct Packet {
  int64_t dtsMs = 0;
  int32_t ctsMs = 0;
  bool key = true;
  Bytes data;
  std::optional<uint32_t> offsetNs;  // a ModEx timestamp offset for this packet
};

struct Stream {
  bool audio = false;
  uint32_t fourCc = 0;  // the enhanced FourCC ("hvc1", "av01", "Opus", ...)
  Bytes config;         // the configuration record, empty for codecs without one
  std::vector<Packet> packets;
  uint8_t trackId = 0;  // multitrack only
  int width = 0, height = 0;
  int sampleRate = 0, channels = 0;
};

inline Packet MakePacket(int64_t dtsMs, int32_t ctsMs, bool key, Bytes data) {
  Packet p;
  p.dtsMs = dtsMs;
  p.ctsMs = ctsMs;
  p.key = key;
  p.data = std::move(data);
  return p;
}

inline Stream MakeStream(bool audio, uint32_t fourCc, Bytes config, uint8_t trackId = 0) {
  Stream s;
  s.audio = audio;
  s.fourCc = fourCc;
  s.config = std::move(config);
  s.trackId = trackId;
  return s;
}

enum class Dialect {
  kEnhanced,  // ExHeader, FourCCs
  kCodecId,   // HEVC as video codec id 12, AVC 7, AAC 10: the CDN convention
};

struct Options {
  Dialect dialect = Dialect::kEnhanced;
  bool metadata = true;         // onMetaData with duration, size, codec ids
  bool sequenceStart = true;    // false: no configuration record at all
  size_t configCut = SIZE_MAX;  // keep only this many bytes of each record
  bool sequenceEnd = true;
  // Each stream's codec number in onMetaData: the FourCC as a number for
  // enhanced streams (as FFmpeg writes it), 12 for HEVC under codec id 12.
  std::optional<double> videocodecid, audiocodecid;
  // Enhanced video tracks after the first go into multitrack tags: one tag a
  // track (kOneTrack, as OBS writes them) or one tag for every track whose
  // packet has the same timestamp (kManyTracks, kManyTracksManyCodecs).
  Layout multitrack = Layout::kOneTrack;
  // The first track as plain enhanced tags (OBS) or as multitrack ones too.
  bool firstTrackPlain = true;
};

// AMF0 onMetaData as an ECMA array of numbers.
inline Bytes OnMetaData(const std::vector<std::pair<std::string, double>>& numbers) {
  Bytes out{0x02};
  const std::string name = "onMetaData";
  Put16(out, static_cast<uint32_t>(name.size()));
  out.insert(out.end(), name.begin(), name.end());
  Put8(out, 0x08);
  Put32(out, static_cast<uint32_t>(numbers.size()));
  for (const auto& [key, value] : numbers) {
    Put16(out, static_cast<uint32_t>(key.size()));
    out.insert(out.end(), key.begin(), key.end());
    Put8(out, 0x00);
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 7; i >= 0; --i) Put8(out, static_cast<uint32_t>(bits >> (i * 8)));
  }
  Put24(out, 9);  // empty name, object end
  return out;
}

// Tags after a 9-byte header, each with its PreviousTagSize.
class FlvFile {
 public:
  explicit FlvFile(bool audio = true, bool video = true) {
    bytes_ = {'F', 'L', 'V', 1, static_cast<uint8_t>((audio ? 4 : 0) | (video ? 1 : 0))};
    Put32(bytes_, 9);
    Put32(bytes_, 0);
  }
  // Returns the tag's offset.
  size_t Tag(uint8_t type, int64_t ms, const Bytes& body) {
    const size_t at = bytes_.size();
    const uint32_t t = static_cast<uint32_t>(ms);
    Put8(bytes_, type);
    Put24(bytes_, static_cast<uint32_t>(body.size()));
    Put24(bytes_, t & 0xffffff);
    Put8(bytes_, t >> 24);
    Put24(bytes_, 0);
    Append(bytes_, body);
    Put32(bytes_, static_cast<uint32_t>(body.size() + 11));
    return at;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

namespace detail {

inline Bytes Cut(const Bytes& config, size_t keep) {
  return Bytes(config.begin(),
               config.begin() + static_cast<std::ptrdiff_t>(std::min(keep, config.size())));
}

inline bool CodecIdStream(const Stream& s, const Options& o) {
  return o.dialect == Dialect::kCodecId &&
         (s.fourCc == FourCc("hvc1") || s.fourCc == FourCc("avc1") || s.fourCc == FourCc("mp4a"));
}

inline int CodecIdOf(const Stream& s) {
  return s.fourCc == FourCc("hvc1") ? 12 : s.fourCc == FourCc("avc1") ? 7 : 10;
}

// A body for one stream's configuration (sequence), frame or end.
inline Bytes SingleBody(const Stream& s, const Options& o, uint8_t type, const Packet* packet,
                        Layout layout) {
  const Bytes config = detail::Cut(s.config, o.configCut);
  if (CodecIdStream(s, o)) {
    const int codec = CodecIdOf(s);
    if (s.audio)
      return LegacyAacBody(type == kSequenceStart ? 0 : 1, packet ? packet->data : config);
    const uint8_t legacyType = type == kSequenceStart ? 0 : type == kSequenceEnd ? 2 : 1;
    return LegacyAvcLikeBody(codec, packet && !packet->key ? 2 : 1, legacyType,
                             packet ? packet->ctsMs : 0,
                             type == kSequenceStart ? config
                             : packet               ? packet->data
                                                    : Bytes{});
  }
  ExPacket p;
  p.fourCc = s.fourCc;
  p.trackId = s.trackId;
  p.type = type;
  if (type == kSequenceStart) p.payload = config;
  if (packet) {
    p.payload = packet->data;
    p.compositionMs = packet->ctsMs;
    // FFmpeg's habit: X when there is no composition time to write.
    if (HasCompositionTime(s.fourCc) && packet->ctsMs == 0) p.type = kCodedFramesX;
  }
  return EnhancedBody(s.audio, packet && !packet->key ? 2 : 1, {p}, layout,
                      packet ? packet->offsetNs : std::nullopt);
}

struct Event {
  int64_t ms;
  size_t stream;
  size_t packet;  // SIZE_MAX: the sequence start; SIZE_MAX - 1: the end
};

}  // namespace detail

// The file for a set of streams: video streams after the first are further
// tracks of one multitrack video, and so are audio streams after the first.
inline Bytes Write(const std::vector<Stream>& streams, const Options& o = {}) {
  bool anyAudio = false, anyVideo = false;
  for (const Stream& s : streams) (s.audio ? anyAudio : anyVideo) = true;
  FlvFile file(anyAudio, anyVideo);
  size_t firstVideo = SIZE_MAX, firstAudio = SIZE_MAX;
  for (size_t i = 0; i < streams.size(); ++i) {
    size_t& first = streams[i].audio ? firstAudio : firstVideo;
    if (first == SIZE_MAX) first = i;
  }
  if (o.metadata) {
    auto codecNumber = [&](const Stream& s) {
      const std::optional<double>& given = s.audio ? o.audiocodecid : o.videocodecid;
      if (given) return *given;
      return detail::CodecIdStream(s, o) ? detail::CodecIdOf(s) : static_cast<double>(s.fourCc);
    };
    std::vector<std::pair<std::string, double>> meta;
    int64_t end = 0;
    for (const Stream& s : streams) {
      if (!s.packets.empty()) end = std::max(end, s.packets.back().dtsMs);
    }
    meta.emplace_back("duration", static_cast<double>(end) / 1000.0);
    if (firstVideo != SIZE_MAX) {
      const Stream& v = streams[firstVideo];
      if (v.width > 0) meta.emplace_back("width", v.width);
      if (v.height > 0) meta.emplace_back("height", v.height);
      meta.emplace_back("videocodecid", codecNumber(v));
    }
    if (firstAudio != SIZE_MAX) {
      const Stream& a = streams[firstAudio];
      if (a.sampleRate > 0) meta.emplace_back("audiosamplerate", a.sampleRate);
      meta.emplace_back("audiocodecid", codecNumber(a));
    }
    file.Tag(18, 0, OnMetaData(meta));
  }
  // Every stream's tags in decoding order; on a tie video before audio, the
  // configuration before the frames.
  std::vector<detail::Event> events;
  for (size_t i = 0; i < streams.size(); ++i) {
    const Stream& s = streams[i];
    const int64_t first = s.packets.empty() ? 0 : s.packets.front().dtsMs;
    const int64_t last = s.packets.empty() ? 0 : s.packets.back().dtsMs;
    if (o.sequenceStart && !s.config.empty()) events.push_back({first, i, SIZE_MAX});
    for (size_t k = 0; k < s.packets.size(); ++k) events.push_back({s.packets[k].dtsMs, i, k});
    if (o.sequenceEnd && !s.audio) events.push_back({last, i, SIZE_MAX - 1});
  }
  auto rank = [&](const detail::Event& e) {
    const int phase = e.packet == SIZE_MAX ? 0 : e.packet == SIZE_MAX - 1 ? 2 : 1;
    return std::make_tuple(e.ms, phase, streams[e.stream].audio ? 1 : 0, e.stream);
  };
  std::stable_sort(
      events.begin(), events.end(),
      [&](const detail::Event& a, const detail::Event& b) { return rank(a) < rank(b); });
  size_t videoStreams = 0, audioStreams = 0;
  for (const Stream& s : streams) ++(s.audio ? audioStreams : videoStreams);
  const bool grouped =
      o.multitrack == Layout::kManyTracks || o.multitrack == Layout::kManyTracksManyCodecs;
  for (size_t e = 0; e < events.size(); ++e) {
    const detail::Event& ev = events[e];
    const Stream& s = streams[ev.stream];
    const bool main = ev.stream == (s.audio ? firstAudio : firstVideo);
    const uint8_t type = ev.packet == SIZE_MAX       ? kSequenceStart
                         : ev.packet == SIZE_MAX - 1 ? kSequenceEnd
                                                     : kCodedFrames;
    const Packet* packet = type == kCodedFrames ? &s.packets[ev.packet] : nullptr;
    const uint8_t tagType = s.audio ? 8 : 9;
    const bool alone = (s.audio ? audioStreams : videoStreams) == 1;
    const bool plain = alone || (main && o.firstTrackPlain) || detail::CodecIdStream(s, o);
    if (plain) {
      file.Tag(tagType, ev.ms, detail::SingleBody(s, o, type, packet, Layout::kSingle));
      continue;
    }
    if (!grouped) {
      file.Tag(tagType, ev.ms, detail::SingleBody(s, o, type, packet, Layout::kOneTrack));
      continue;
    }
    // Many tracks in one tag: this event and the following ones of the same
    // kind, time and packet type from other tracks of the same medium.
    std::vector<ExPacket> group;
    int frameType = 1;
    size_t k = e;
    for (; k < events.size(); ++k) {
      const detail::Event& other = events[k];
      const Stream& t = streams[other.stream];
      const bool otherMain = other.stream == (t.audio ? firstAudio : firstVideo);
      const uint8_t otherType = other.packet == SIZE_MAX       ? kSequenceStart
                                : other.packet == SIZE_MAX - 1 ? kSequenceEnd
                                                               : kCodedFrames;
      if (other.ms != ev.ms || t.audio != s.audio || otherType != type ||
          (otherMain && o.firstTrackPlain)) {
        break;
      }
      ExPacket p;
      p.type = type;
      p.fourCc = t.fourCc;
      p.trackId = t.trackId;
      if (type == kSequenceStart) p.payload = detail::Cut(t.config, o.configCut);
      if (type == kCodedFrames) {
        const Packet& q = t.packets[other.packet];
        p.payload = q.data;
        p.compositionMs = q.ctsMs;
        if (!q.key) frameType = 2;
      }
      group.push_back(std::move(p));
    }
    file.Tag(tagType, ev.ms, EnhancedBody(s.audio, frameType, group, o.multitrack));
    e = k - 1;
  }
  return file.bytes();
}

}  // namespace flvwrite
