#pragma once

// A small Matroska reader for tests: the tracks, every block with its time,
// key flag, bytes and place, the Clusters and the Cues. Lenient where real
// writers differ (CRC-32 elements, BlockGroups, known or unknown sizes) and
// it counts what it does not know, so a test can ask for a file made of
// nothing else. Standard C++ only.

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace mkvread {

using Bytes = std::vector<uint8_t>;

struct Track {
  uint64_t number = 0;
  uint64_t type = 0;  // 1 video, 2 audio
  std::string codecId;
  Bytes codecPrivate;
  uint64_t width = 0, height = 0, channels = 0;
  double sampleRate = 0;
};

struct Block {
  uint64_t track = 0;
  int64_t timeMs = 0;  // the Cluster's time plus the block's own
  bool key = false;
  uint64_t at = 0;  // the element's first byte in the file
  Bytes data;
};

struct Cue {
  uint64_t timeMs = 0;
  uint64_t track = 0;
  uint64_t clusterPosition = 0;  // from the Segment's data
};

struct File {
  bool ok = false;
  std::string error;
  uint64_t segmentData = 0;  // where the Segment's data starts
  double durationMs = -1;
  std::vector<Track> tracks;
  std::vector<Block> blocks;
  std::vector<uint64_t> clusters;  // each Cluster's first byte, from the Segment's data
  std::vector<int64_t> clusterTimes;
  std::vector<Cue> cues;
  uint64_t cuesPosition = 0;  // from the SeekHead, 0 if none
  int unknownElements = 0;
  int voids = 0;
};

namespace detail {

inline bool Id(std::span<const uint8_t> b, uint64_t& at, uint32_t& id) {
  if (at >= b.size()) return false;
  const uint8_t first = b[at];
  int width = first & 0x80 ? 1 : first & 0x40 ? 2 : first & 0x20 ? 3 : first & 0x10 ? 4 : 0;
  if (width == 0 || at + width > b.size()) return false;
  id = 0;
  for (int i = 0; i < width; ++i) id = id << 8 | b[at + i];
  at += width;
  return true;
}

// A size; `unknown` when all its value bits are set.
inline bool Vint(std::span<const uint8_t> b, uint64_t& at, uint64_t& value,
                 bool* unknown = nullptr) {
  if (at >= b.size()) return false;
  const uint8_t first = b[at];
  int width = 1;
  while (width <= 8 && !(first & (0x80 >> (width - 1)))) ++width;
  if (width > 8 || at + width > b.size()) return false;
  value = first & (0xff >> width);
  bool allOnes = value == (0xffu >> width);
  for (int i = 1; i < width; ++i) {
    value = value << 8 | b[at + i];
    allOnes = allOnes && b[at + i] == 0xff;
  }
  if (unknown) *unknown = allOnes;
  at += width;
  return true;
}

inline uint64_t Uint(std::span<const uint8_t> b, uint64_t at, uint64_t size) {
  uint64_t v = 0;
  for (uint64_t i = 0; i < size && i < 8; ++i) v = v << 8 | b[at + i];
  return v;
}

inline double Float(std::span<const uint8_t> b, uint64_t at, uint64_t size) {
  if (size == 4) {
    const uint32_t bits = uint32_t(Uint(b, at, 4));
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  const uint64_t bits = Uint(b, at, 8);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

inline bool TopLevel(uint32_t id) {
  return id == 0x1F43B675 || id == 0x1C53BB6B || id == 0x1254C367 || id == 0x1043A770 ||
         id == 0x1941A469 || id == 0x114D9B74 || id == 0x1549A966 || id == 0x1654AE6B;
}

struct Parser {
  std::span<const uint8_t> b;
  File& f;

  bool Fail(const std::string& why) {
    f.error = why;
    return false;
  }

  bool BlockAt(uint64_t elementAt, uint64_t at, uint64_t end, int64_t clusterMs, bool simple,
               bool key) {
    uint64_t track = 0;
    if (!Vint(b, at, track) || at + 3 > end) return Fail("block header");
    const int16_t rel = int16_t(uint16_t(b[at] << 8 | b[at + 1]));
    const uint8_t flags = b[at + 2];
    at += 3;
    if (flags & 0x06) return Fail("laced block");
    Block block;
    block.track = track;
    block.timeMs = clusterMs + rel;
    block.key = simple ? (flags & 0x80) != 0 : key;
    block.at = elementAt;
    block.data.assign(b.begin() + long(at), b.begin() + long(end));
    f.blocks.push_back(std::move(block));
    return true;
  }

  bool Cluster(uint64_t at, uint64_t end, bool unknown, uint64_t& stop) {
    int64_t clusterMs = 0;
    while (at < end) {
      const uint64_t start = at;
      uint32_t id;
      uint64_t size;
      bool unknownSize = false;
      if (!Id(b, at, id)) return Fail("cluster child id");
      if (unknown && TopLevel(id)) {
        stop = start;
        return true;
      }
      if (!Vint(b, at, size, &unknownSize) || unknownSize || at + size > end) {
        return Fail("cluster child size at " + std::to_string(start));
      }
      if (id == 0xE7) {
        clusterMs = int64_t(Uint(b, at, size));
        f.clusterTimes.push_back(clusterMs);
      } else if (id == 0xA3) {
        if (!BlockAt(start, at, at + size, clusterMs, true, false)) return false;
      } else if (id == 0xA0) {
        // BlockGroup: a Block, key unless it refers to another.
        uint64_t g = at, blockAt = 0, blockStart = 0, blockEnd = 0;
        bool key = true;
        while (g < at + size) {
          const uint64_t childStart = g;
          uint32_t cid;
          uint64_t csize;
          if (!Id(b, g, cid) || !Vint(b, g, csize) || g + csize > at + size) {
            return Fail("block group");
          }
          if (cid == 0xA1) {
            blockStart = childStart;
            blockAt = g;
            blockEnd = g + csize;
          }
          if (cid == 0xFB) key = false;
          g += csize;
        }
        if (blockEnd && !BlockAt(blockStart, blockAt, blockEnd, clusterMs, false, key)) {
          return false;
        }
      } else if (id == 0xEC) {
        ++f.voids;
      } else if (id != 0xBF && id != 0xA7 && id != 0xAB) {
        ++f.unknownElements;
      }
      at += size;
    }
    stop = end;
    return true;
  }

  void Tracks(uint64_t at, uint64_t end) {
    while (at < end) {
      uint32_t id;
      uint64_t size;
      if (!Id(b, at, id) || !Vint(b, at, size) || at + size > end) return;
      if (id == 0xAE) {
        Track t;
        uint64_t e = at;
        while (e < at + size) {
          uint32_t tid;
          uint64_t tsize;
          if (!Id(b, e, tid) || !Vint(b, e, tsize) || e + tsize > at + size) break;
          if (tid == 0xD7) t.number = Uint(b, e, tsize);
          if (tid == 0x83) t.type = Uint(b, e, tsize);
          if (tid == 0x86) t.codecId.assign(b.begin() + long(e), b.begin() + long(e + tsize));
          if (tid == 0x63A2)
            t.codecPrivate.assign(b.begin() + long(e), b.begin() + long(e + tsize));
          if (tid == 0xE0 || tid == 0xE1) {
            uint64_t v = e;
            while (v < e + tsize) {
              uint32_t vid;
              uint64_t vsize;
              if (!Id(b, v, vid) || !Vint(b, v, vsize) || v + vsize > e + tsize) break;
              if (vid == 0xB0) t.width = Uint(b, v, vsize);
              if (vid == 0xBA) t.height = Uint(b, v, vsize);
              if (vid == 0x9F) t.channels = Uint(b, v, vsize);
              if (vid == 0xB5) t.sampleRate = Float(b, v, vsize);
              v += vsize;
            }
          }
          e += tsize;
        }
        f.tracks.push_back(std::move(t));
      }
      at += size;
    }
  }

  void Cues(uint64_t at, uint64_t end) {
    while (at < end) {
      uint32_t id;
      uint64_t size;
      if (!Id(b, at, id) || !Vint(b, at, size) || at + size > end) return;
      if (id == 0xBB) {
        Cue cue;
        uint64_t e = at;
        while (e < at + size) {
          uint32_t cid;
          uint64_t csize;
          if (!Id(b, e, cid) || !Vint(b, e, csize) || e + csize > at + size) break;
          if (cid == 0xB3) cue.timeMs = Uint(b, e, csize);
          if (cid == 0xB7) {
            uint64_t p = e;
            while (p < e + csize) {
              uint32_t pid;
              uint64_t psize;
              if (!Id(b, p, pid) || !Vint(b, p, psize) || p + psize > e + csize) break;
              if (pid == 0xF7) cue.track = Uint(b, p, psize);
              if (pid == 0xF1) cue.clusterPosition = Uint(b, p, psize);
              p += psize;
            }
          }
          e += csize;
        }
        f.cues.push_back(cue);
      }
      at += size;
    }
  }

  bool Run() {
    uint64_t at = 0;
    uint32_t id;
    uint64_t size;
    if (!Id(b, at, id) || id != 0x1A45DFA3 || !Vint(b, at, size)) return Fail("EBML header");
    at += size;
    bool unknown = false;
    if (!Id(b, at, id) || id != 0x18538067 || !Vint(b, at, size, &unknown)) return Fail("Segment");
    f.segmentData = at;
    const uint64_t end = unknown || at + size > b.size() ? b.size() : at + size;
    while (at < end) {
      const uint64_t start = at;
      bool childUnknown = false;
      if (!Id(b, at, id) || !Vint(b, at, size, &childUnknown)) {
        return Fail("segment child at " + std::to_string(start));
      }
      if (id == 0x1F43B675) {
        f.clusters.push_back(start - f.segmentData);
        const uint64_t clusterEnd = childUnknown ? end : at + size;
        if (clusterEnd > end) return Fail("cluster size");
        uint64_t stop = clusterEnd;
        if (!Cluster(at, clusterEnd, childUnknown, stop)) return false;
        at = stop;
        continue;
      }
      if (childUnknown || at + size > end)
        return Fail("segment child size at " + std::to_string(start));
      if (id == 0x1549A966) {
        for (uint64_t e = at; e < at + size;) {
          uint32_t iid;
          uint64_t isize;
          if (!Id(b, e, iid) || !Vint(b, e, isize)) break;
          if (iid == 0x4489) f.durationMs = Float(b, e, isize);
          e += isize;
        }
      } else if (id == 0x1654AE6B) {
        Tracks(at, at + size);
      } else if (id == 0x1C53BB6B) {
        Cues(at, at + size);
      } else if (id == 0x114D9B74) {
        // SeekHead: the Cues' position.
        for (uint64_t e = at; e < at + size;) {
          uint32_t sid;
          uint64_t ssize;
          if (!Id(b, e, sid) || !Vint(b, e, ssize)) break;
          uint32_t target = 0;
          uint64_t position = 0;
          for (uint64_t s = e; s < e + ssize;) {
            uint32_t xid;
            uint64_t xsize;
            if (!Id(b, s, xid) || !Vint(b, s, xsize)) break;
            if (xid == 0x53AB) target = uint32_t(Uint(b, s, xsize));
            if (xid == 0x53AC) position = Uint(b, s, xsize);
            s += xsize;
          }
          if (target == 0x1C53BB6B) f.cuesPosition = position;
          e += ssize;
        }
      } else if (id == 0xEC) {
        ++f.voids;
      } else if (id != 0xBF && id != 0x1254C367) {
        ++f.unknownElements;
      }
      at += size;
    }
    return true;
  }
};

}  // namespace detail

inline File Parse(std::span<const uint8_t> bytes) {
  File f;
  detail::Parser parser{bytes, f};
  f.ok = parser.Run();
  return f;
}

}  // namespace mkvread
