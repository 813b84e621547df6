#pragma once

// Streams an encoder wrote into Matroska, taken out as the FLV writer wants
// them: each track's configuration record (CodecPrivate: hvcC, av1C,
// AudioSpecificConfig, OpusHead) and its packets with decoding times. The
// decoding time of a stream with reordered frames is not in Matroska: it is
// rebuilt as the presentation times in order, moved back by the deepest
// reordering, so that every composition offset is 0 or more.

#include <algorithm>
#include <span>
#include <vector>

#include "support/flv_writer.h"
#include "support/mkv_reader.h"

namespace encoded {

inline uint32_t FourCcFor(const std::string& codecId) {
  using flvwrite::FourCc;
  if (codecId == "V_MPEGH/ISO/HEVC") return FourCc("hvc1");
  if (codecId == "V_MPEG4/ISO/AVC") return FourCc("avc1");
  if (codecId == "V_AV1") return FourCc("av01");
  if (codecId == "V_VP9") return FourCc("vp09");
  if (codecId == "A_AAC") return FourCc("mp4a");
  if (codecId == "A_OPUS") return FourCc("Opus");
  if (codecId == "A_FLAC") return FourCc("fLaC");
  return 0;
}

// Empty when the bytes are no Matroska this reader takes.
inline std::vector<flvwrite::Stream> FromMatroska(std::span<const uint8_t> bytes) {
  const mkvread::File file = mkvread::Parse(bytes);
  std::vector<flvwrite::Stream> streams;
  if (!file.ok) return streams;
  int64_t earliest = 0;
  for (const mkvread::Track& track : file.tracks) {
    flvwrite::Stream s =
        flvwrite::MakeStream(track.type == 2, FourCcFor(track.codecId), track.codecPrivate);
    s.width = int(track.width);
    s.height = int(track.height);
    s.sampleRate = int(track.sampleRate);
    s.channels = int(track.channels);
    std::vector<int64_t> pts;
    for (const mkvread::Block& b : file.blocks) {
      if (b.track != track.number) continue;
      pts.push_back(b.timeMs);
      s.packets.push_back(flvwrite::MakePacket(0, 0, b.key, b.data));
    }
    std::vector<int64_t> sorted = pts;
    std::sort(sorted.begin(), sorted.end());
    int64_t depth = 0;
    for (size_t i = 0; i < pts.size(); ++i) depth = std::max(depth, sorted[i] - pts[i]);
    for (size_t i = 0; i < pts.size(); ++i) {
      s.packets[i].dtsMs = sorted[i] - depth;
      s.packets[i].ctsMs = int32_t(pts[i] - s.packets[i].dtsMs);
      earliest = std::min(earliest, s.packets[i].dtsMs);
    }
    streams.push_back(std::move(s));
  }
  // FLV timestamps are unsigned.
  for (flvwrite::Stream& s : streams) {
    for (flvwrite::Packet& p : s.packets) p.dtsMs -= earliest;
  }
  return streams;
}

}  // namespace encoded
