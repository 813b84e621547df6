#pragma once

// A small Matroska reader for the view's tests: the tracks' codecs, every
// SimpleBlock with its time, key flag, bytes and place, the Clusters (of
// known or unknown size), the Cues and where the SeekHead says they are. It
// counts the elements it does not expect, so a test can ask for a file made
// of nothing else. Standard C++ only.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mkvread {

using Bytes = std::vector<uint8_t>;

struct Track {
  uint64_t number = 0;
  std::string codecId;
  Bytes codecPrivate;
};

struct Block {
  uint64_t track = 0;
  int64_t timeMs = 0;  // the Cluster's time plus the block's own
  bool key = false;
  uint64_t at = 0;  // the element's first byte in the file
  Bytes data;
};

struct Cue {
  uint64_t timeMs = 0, track = 0, clusterPosition = 0;  // position from the Segment's data
};

struct File {
  bool ok = false;
  std::string error;
  uint64_t segmentData = 0;  // where the Segment's data starts
  std::vector<Track> tracks;
  std::vector<Block> blocks;
  std::vector<uint64_t> clusters;  // each Cluster's first byte, from the Segment's data
  std::vector<Cue> cues;
  uint64_t cuesPosition = 0;  // from the SeekHead, 0 if none
  int unknownElements = 0;
  int voids = 0;
};

namespace detail {

constexpr uint32_t kCluster = 0x1F43B675;

struct Reader {
  std::span<const uint8_t> b;
  File& f;

  // An element's ID and size at `at`, moving past them; false when cut
  // short. `unknown` when the size has all its value bits set.
  bool Head(uint64_t& at, uint32_t& id, uint64_t& size, bool* unknown = nullptr) {
    if (at >= b.size()) return false;
    int idWidth = 1;
    while (idWidth <= 4 && !(b[at] & (0x80 >> (idWidth - 1)))) ++idWidth;
    if (idWidth > 4 || at + idWidth >= b.size()) return false;
    id = 0;
    for (int i = 0; i < idWidth; ++i) id = id << 8 | b[at + i];
    at += idWidth;
    int width = 1;
    while (width <= 8 && !(b[at] & (0x80 >> (width - 1)))) ++width;
    if (width > 8 || at + width > b.size()) return false;
    size = b[at] & (0xff >> width);
    bool ones = size == (0xffu >> width);
    for (int i = 1; i < width; ++i) {
      size = size << 8 | b[at + i];
      ones = ones && b[at + i] == 0xff;
    }
    if (unknown) *unknown = ones;
    at += width;
    return true;
  }
  uint64_t Uint(uint64_t at, uint64_t size) {
    uint64_t v = 0;
    for (uint64_t i = 0; i < size && i < 8; ++i) v = v << 8 | b[at + i];
    return v;
  }
  Bytes Data(uint64_t at, uint64_t size) {
    return Bytes(b.begin() + long(at), b.begin() + long(at + size));
  }

  // Calls `child(id, at, size)` for each element in [at, end); false when
  // one does not fit.
  template <typename F>
  bool Children(uint64_t at, uint64_t end, F child) {
    while (at < end) {
      uint32_t id;
      uint64_t size;
      if (!Head(at, id, size) || at + size > end) return false;
      child(id, at, size);
      at += size;
    }
    return true;
  }

  // A Cluster's children from `at`: an unknown size ends at the next
  // Cluster or any other top-level element. Returns where it ended.
  uint64_t Cluster(uint64_t at, uint64_t end, bool unknown) {
    int64_t clusterMs = 0;
    while (at < end) {
      const uint64_t start = at;
      uint32_t id;
      uint64_t size;
      if (!Head(at, id, size) || at + size > end) {
        f.error = "cluster child at " + std::to_string(start);
        return 0;
      }
      if (unknown && (id == kCluster || id == 0x1C53BB6B)) return start;
      if (id == 0xE7) {
        clusterMs = int64_t(Uint(at, size));
      } else if (id == 0xA3 && size >= 4 && (b[at] & 0x80)) {
        const uint8_t flags = b[at + 3];
        if (flags & 0x06) ++f.unknownElements;  // laced
        f.blocks.push_back({uint64_t(b[at] & 0x7f),
                            clusterMs + int16_t(uint16_t(b[at + 1] << 8 | b[at + 2])),
                            (flags & 0x80) != 0, start, Data(at + 4, size - 4)});
      } else if (id == 0xEC) {
        ++f.voids;
      } else {
        ++f.unknownElements;
      }
      at += size;
    }
    return end;
  }

  bool Run() {
    uint64_t at = 0, size = 0;
    uint32_t id;
    bool unknown = false;
    if (!Head(at, id, size) || id != 0x1A45DFA3) return (f.error = "EBML header").empty();
    at += size;
    if (!Head(at, id, size, &unknown) || id != 0x18538067) return (f.error = "Segment").empty();
    f.segmentData = at;
    const uint64_t end = unknown || at + size > b.size() ? b.size() : at + size;
    while (at < end) {
      const uint64_t start = at;
      bool childUnknown = false;
      if (!Head(at, id, size, &childUnknown)) return (f.error = "segment child").empty();
      if (id == kCluster) {
        f.clusters.push_back(start - f.segmentData);
        at = Cluster(at, childUnknown ? end : at + size, childUnknown);
        if (at == 0) return false;
        continue;
      }
      if (childUnknown || at + size > end) return (f.error = "segment child size").empty();
      bool fits = true;
      if (id == 0x1654AE6B) {
        fits = Children(at, at + size, [&](uint32_t, uint64_t e, uint64_t n) {
          Track t;
          Children(e, e + n, [&](uint32_t tid, uint64_t v, uint64_t m) {
            if (tid == 0xD7) t.number = Uint(v, m);
            if (tid == 0x86) t.codecId.assign(b.begin() + long(v), b.begin() + long(v + m));
            if (tid == 0x63A2) t.codecPrivate = Data(v, m);
          });
          f.tracks.push_back(std::move(t));
        });
      } else if (id == 0x1C53BB6B) {
        fits = Children(at, at + size, [&](uint32_t, uint64_t e, uint64_t n) {
          Cue cue;
          Children(e, e + n, [&](uint32_t cid, uint64_t v, uint64_t m) {
            if (cid == 0xB3) cue.timeMs = Uint(v, m);
            if (cid == 0xB7) {
              Children(v, v + m, [&](uint32_t pid, uint64_t p, uint64_t k) {
                if (pid == 0xF7) cue.track = Uint(p, k);
                if (pid == 0xF1) cue.clusterPosition = Uint(p, k);
              });
            }
          });
          f.cues.push_back(cue);
        });
      } else if (id == 0x114D9B74) {
        fits = Children(at, at + size, [&](uint32_t, uint64_t e, uint64_t n) {
          uint64_t target = 0, position = 0;
          Children(e, e + n, [&](uint32_t sid, uint64_t v, uint64_t m) {
            if (sid == 0x53AB) target = Uint(v, m);
            if (sid == 0x53AC) position = Uint(v, m);
          });
          if (target == 0x1C53BB6B) f.cuesPosition = position;
        });
      } else if (id == 0xEC) {
        ++f.voids;
      } else if (id != 0x1549A966) {
        ++f.unknownElements;
      }
      if (!fits) return (f.error = "element at " + std::to_string(start)).empty();
      at += size;
    }
    return true;
  }
};

}  // namespace detail

inline File Parse(std::span<const uint8_t> bytes) {
  File f;
  detail::Reader reader{bytes, f};
  f.ok = reader.Run();
  return f;
}

}  // namespace mkvread
