#pragma once

// Reads the tracks of an MP4 file that FFmpeg wrote (not fragmented) into
// the streams the FLV writer takes: each sample's decoding time, composition
// offset, key flag and bytes, and the configuration record in the form FLV
// carries it (hvcC, av1C and vpcC as they are; OpusHead from dOps; "fLaC"
// and the metadata blocks from dfLa; the AudioSpecificConfig from esds).
// MP4 because it keeps decoding and presentation times apart and stores the
// very records FFmpeg's own FLV muxer writes. Standard C++ only; for tests,
// on files the tests made: sizes are checked, nothing more is promised.

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/flv_writer.h"

namespace flvwrite::mp4 {

struct Box {
  uint32_t type = 0;
  size_t at = 0;    // the content's first byte in the file
  size_t size = 0;  // the content's size
};

inline uint32_t Be32(const Bytes& b, size_t at) {
  return at + 4 <= b.size() ? uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 |
                                  uint32_t{b[at + 2]} << 8 | b[at + 3]
                            : 0;
}
inline uint32_t Be16(const Bytes& b, size_t at) {
  return at + 2 <= b.size() ? uint32_t{b[at]} << 8 | b[at + 1] : 0;
}
inline uint64_t Be64(const Bytes& b, size_t at) {
  return uint64_t{Be32(b, at)} << 32 | Be32(b, at + 4);
}

// The boxes in [from, to) of the file.
inline std::vector<Box> Children(const Bytes& b, size_t from, size_t to) {
  std::vector<Box> boxes;
  while (from + 8 <= to) {
    uint64_t size = Be32(b, from);
    size_t header = 8;
    if (size == 1) {
      size = Be64(b, from + 8);
      header = 16;
    } else if (size == 0) {
      size = to - from;
    }
    if (size < header || size > to - from) break;
    boxes.push_back({Be32(b, from + 4), from + header, static_cast<size_t>(size) - header});
    from += static_cast<size_t>(size);
  }
  return boxes;
}

inline std::optional<Box> Child(const Bytes& b, const Box& parent, const char (&type)[5],
                                size_t skip = 0) {
  for (const Box& c : Children(b, parent.at + skip, parent.at + parent.size)) {
    if (c.type == FourCc(type)) return c;
  }
  return std::nullopt;
}

inline Bytes Content(const Bytes& b, const Box& box, size_t skip = 0) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(box.at + skip),
               b.begin() + static_cast<std::ptrdiff_t>(box.at + box.size));
}

// dOps (big-endian, version 0) as the OpusHead Ogg and FLV carry
// (little-endian, version 1).
inline Bytes OpusHeadFromDops(const Bytes& d) {
  if (d.size() < 11) return {};
  Bytes out{'O',  'p',  'u',  's',  'H',  'e',  'a',  'd',  1,    d[1],
            d[3], d[2], d[7], d[6], d[5], d[4], d[9], d[8], d[10]};
  out.insert(out.end(), d.begin() + 11, d.end());
  return out;
}

// The DecoderSpecificInfo inside an esds's descriptors.
inline Bytes AudioSpecificConfigFromEsds(const Bytes& e) {
  size_t at = 4;  // version and flags
  while (at + 2 <= e.size()) {
    const uint8_t tag = e[at++];
    size_t length = 0;
    for (int i = 0; i < 4 && at < e.size(); ++i) {
      const uint8_t b = e[at++];
      length = length << 7 | (b & 0x7f);
      if (!(b & 0x80)) break;
    }
    if (tag == 0x03) {
      const uint8_t flags = e[at + 2];
      at += 3 + ((flags & 0x80) ? 2 : 0) + ((flags & 0x20) ? 2 : 0);
      if (flags & 0x40) at += 1 + e[at];
    } else if (tag == 0x04) {
      // MPEG-1/2 audio in an esds is MP3, with nothing to configure.
      if (at < e.size() && (e[at] == 0x69 || e[at] == 0x6b)) return {'.', 'm', 'p', '3'};
      at += 13;
    } else if (tag == 0x05) {
      return Bytes(e.begin() + static_cast<std::ptrdiff_t>(at),
                   e.begin() + static_cast<std::ptrdiff_t>(std::min(at + length, e.size())));
    } else {
      at += length;
    }
  }
  return {};
}

struct Track {
  Stream stream;
  uint32_t sampleEntry = 0;  // "hvc1", "av01", "Opus", ...
  uint32_t timescale = 0;
};

inline std::optional<Track> ReadTrack(const Bytes& b, const Box& trak) {
  Track t;
  const auto mdia = Child(b, trak, "mdia");
  if (!mdia) return std::nullopt;
  const auto mdhd = Child(b, *mdia, "mdhd");
  const auto hdlr = Child(b, *mdia, "hdlr");
  const auto minf = Child(b, *mdia, "minf");
  if (!mdhd || !hdlr || !minf) return std::nullopt;
  t.timescale = b[mdhd->at] == 1 ? Be32(b, mdhd->at + 20) : Be32(b, mdhd->at + 12);
  const uint32_t handler = Be32(b, hdlr->at + 8);
  if (handler != FourCc("vide") && handler != FourCc("soun")) return std::nullopt;
  const bool audio = handler == FourCc("soun");
  const auto stbl = Child(b, *minf, "stbl");
  if (!stbl || t.timescale == 0) return std::nullopt;
  const auto stsd = Child(b, *stbl, "stsd");
  if (!stsd) return std::nullopt;
  const std::vector<Box> entries = Children(b, stsd->at + 8, stsd->at + stsd->size);
  if (entries.empty()) return std::nullopt;
  const Box& entry = entries[0];
  t.sampleEntry = entry.type;
  t.stream.audio = audio;
  t.stream.fourCc = entry.type;
  // The sample entry's own fields, then its boxes.
  const size_t fields = audio ? 28 : 78;
  if (audio) {
    t.stream.channels = static_cast<int>(Be16(b, entry.at + 16));
    t.stream.sampleRate = static_cast<int>(Be32(b, entry.at + 24) >> 16);
  } else {
    t.stream.width = static_cast<int>(Be16(b, entry.at + 24));
    t.stream.height = static_cast<int>(Be16(b, entry.at + 26));
  }
  for (const Box& c : Children(b, entry.at + fields, entry.at + entry.size)) {
    if (c.type == FourCc("hvcC") || c.type == FourCc("av1C") || c.type == FourCc("vpcC") ||
        c.type == FourCc("avcC")) {
      t.stream.config = Content(b, c);
    } else if (c.type == FourCc("dOps")) {
      t.stream.config = OpusHeadFromDops(Content(b, c));
    } else if (c.type == FourCc("dfLa")) {
      t.stream.config = {'f', 'L', 'a', 'C'};
      Append(t.stream.config, Content(b, c, 4));
    } else if (c.type == FourCc("esds")) {
      t.stream.config = AudioSpecificConfigFromEsds(Content(b, c));
      if (t.stream.config == Bytes{'.', 'm', 'p', '3'}) {
        t.stream.fourCc = FourCc(".mp3");
        t.stream.config.clear();
      }
    }
  }
  // FLV's FourCCs for what MP4 calls otherwise.
  if (t.stream.fourCc == FourCc("hev1")) t.stream.fourCc = FourCc("hvc1");
  if (t.stream.fourCc == FourCc("mp3 ") || t.stream.fourCc == FourCc(".mp3")) {
    t.stream.fourCc = FourCc(".mp3");
  }

  // Sample tables.
  std::vector<uint32_t> sizes, deltas;
  std::vector<uint64_t> chunkOffsets;
  std::vector<int64_t> composition;
  std::vector<bool> sync;
  bool allSync = true;
  struct Run {
    uint32_t firstChunk, samples;
  };
  std::vector<Run> runs;
  for (const Box& c : Children(b, stbl->at, stbl->at + stbl->size)) {
    const uint32_t n = Be32(b, c.at + 4);
    if (c.type == FourCc("stsz")) {
      const uint32_t fixed = Be32(b, c.at + 4), count = Be32(b, c.at + 8);
      for (uint32_t i = 0; i < count; ++i)
        sizes.push_back(fixed ? fixed : Be32(b, c.at + 12 + 4 * i));
    } else if (c.type == FourCc("stts")) {
      for (uint32_t i = 0; i < n; ++i) {
        deltas.insert(deltas.end(), Be32(b, c.at + 8 + 8 * i), Be32(b, c.at + 12 + 8 * i));
      }
    } else if (c.type == FourCc("ctts")) {
      const bool signedOffsets = b[c.at] == 1;
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t raw = Be32(b, c.at + 12 + 8 * i);
        const int64_t offset = signedOffsets ? int64_t{static_cast<int32_t>(raw)} : int64_t{raw};
        composition.insert(composition.end(), Be32(b, c.at + 8 + 8 * i), offset);
      }
    } else if (c.type == FourCc("stss")) {
      allSync = false;
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t s = Be32(b, c.at + 8 + 4 * i);
        if (s > sync.size()) sync.resize(s, false);
        if (s > 0) sync[s - 1] = true;
      }
    } else if (c.type == FourCc("stsc")) {
      for (uint32_t i = 0; i < n; ++i)
        runs.push_back({Be32(b, c.at + 8 + 12 * i), Be32(b, c.at + 12 + 12 * i)});
    } else if (c.type == FourCc("stco")) {
      for (uint32_t i = 0; i < n; ++i) chunkOffsets.push_back(Be32(b, c.at + 8 + 4 * i));
    } else if (c.type == FourCc("co64")) {
      for (uint32_t i = 0; i < n; ++i) chunkOffsets.push_back(Be64(b, c.at + 8 + 8 * i));
    }
  }
  // Samples chunk by chunk.
  size_t sample = 0;
  uint64_t dts = 0;
  for (size_t chunk = 0; chunk < chunkOffsets.size() && sample < sizes.size(); ++chunk) {
    uint32_t perChunk = 0;
    for (const Run& r : runs) {
      if (r.firstChunk <= chunk + 1) perChunk = r.samples;
    }
    uint64_t at = chunkOffsets[chunk];
    for (uint32_t k = 0; k < perChunk && sample < sizes.size(); ++k, ++sample) {
      if (at + sizes[sample] > b.size()) return std::nullopt;
      Packet p;
      p.dtsMs = static_cast<int64_t>(dts * 1000 / t.timescale);
      p.ctsMs = sample < composition.size()
                    ? static_cast<int32_t>(composition[sample] * 1000 / int64_t{t.timescale})
                    : 0;
      p.key = allSync || (sample < sync.size() && sync[sample]);
      p.data.assign(b.begin() + static_cast<std::ptrdiff_t>(at),
                    b.begin() + static_cast<std::ptrdiff_t>(at + sizes[sample]));
      t.stream.packets.push_back(std::move(p));
      at += sizes[sample];
      dts += sample < deltas.size() ? deltas[sample] : 0;
    }
  }
  return t;
}

// Every audio and video track of the file, in the file's order.
inline std::vector<Track> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Track> tracks;
  for (const Box& top : Children(b, 0, b.size())) {
    if (top.type != FourCc("moov")) continue;
    for (const Box& trak : Children(b, top.at, top.at + top.size)) {
      if (trak.type != FourCc("trak")) continue;
      if (auto t = ReadTrack(b, trak)) tracks.push_back(std::move(*t));
    }
  }
  return tracks;
}

}  // namespace flvwrite::mp4
