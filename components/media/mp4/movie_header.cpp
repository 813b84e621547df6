#include "media/mp4/movie_header.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "media/flv/text_format.h"
#include "media/mp4/sample_tables.h"

namespace mp4_reader::walk {
namespace {

// A sample entry's fixed fields, and the first boxes after them (an mp4a's
// esds), fit in this.
constexpr int64_t kSampleEntryBytes = 512;
constexpr int64_t kSmallBoxBytes = 128;

// The time fields of mvhd and mdhd: version 1 has 64-bit times.
bool TimescaleAndDuration(const std::vector<uint8_t>& body, uint32_t* timescale,
                          uint64_t* duration) {
  if (body.size() >= 32 && body[0] == 1) {
    *timescale = Be32(body.data() + 20);
    *duration = Be64(body.data() + 24);
    return true;
  }
  if (body.size() < 20 || body[0] != 0) return false;
  *timescale = Be32(body.data() + 12);
  const uint32_t d = Be32(body.data() + 16);
  *duration = d == 0xffffffffu ? 0 : d;  // all ones: unknown
  return true;
}

// A descriptor's length at `at`: up to four bytes of seven bits each.
bool DescriptorLength(std::span<const uint8_t> d, size_t& at) {
  for (int i = 0; i < 4; ++i) {
    if (at >= d.size()) return false;
    if (!(d[at++] & 0x80)) return true;
  }
  return true;
}

// The object type of an esds box's decoder config; -1 when not found.
int ObjectType(std::span<const uint8_t> d) {
  size_t at = 4;  // version and flags
  if (at >= d.size() || d[at++] != 0x03 || !DescriptorLength(d, at)) return -1;
  at += 2;  // ES_ID
  if (at >= d.size()) return -1;
  const uint8_t flags = d[at++];
  if (flags & 0x80) at += 2;
  if (flags & 0x40) {
    if (at >= d.size()) return -1;
    at += 1 + d[at];
  }
  if (flags & 0x20) at += 2;
  if (at >= d.size() || d[at++] != 0x04 || !DescriptorLength(d, at) || at >= d.size()) return -1;
  return d[at];
}

void ReadSampleEntry(Context& c, Track& track, const Box& stsd) {
  const std::vector<uint8_t> body = ReadBody(c.source, stsd, kSampleEntryBytes);
  // Version, flags and the entry count, then the first entry as a box.
  if (body.size() < 16) return;
  const uint8_t* entry = body.data() + 8;
  const size_t entryBytes = std::min<size_t>(std::max<uint32_t>(Be32(entry), 8), body.size() - 8);
  track.codec = FourCcText(Be32(entry + 4));
  if (track.kind == TrackKind::kVideo && entryBytes >= 36) {
    track.width = Be16(entry + 32);
    track.height = Be16(entry + 34);
  } else if (track.kind == TrackKind::kAudio && entryBytes >= 36) {
    const uint16_t version = Be16(entry + 16);
    track.channels = Be16(entry + 24);
    track.sampleRate = static_cast<int>(Be32(entry + 32) >> 16);
    size_t children = version == 1 ? 52 : version == 2 ? 72 : 36;
    if (version == 2 && entryBytes >= 52) {
      uint64_t bits = Be64(entry + 40);
      double rate = 0;
      std::memcpy(&rate, &bits, sizeof rate);
      track.sampleRate = rate > 0 && rate < 10e6 ? static_cast<int>(rate) : 0;
      track.channels = static_cast<int>(std::min<uint32_t>(Be32(entry + 48), 255));
    }
    // The boxes inside the entry: an mp4a's esds names its MPEG audio.
    while (children + 8 <= entryBytes) {
      const uint32_t size = Be32(entry + children);
      if (size < 8 || size > entryBytes - children) break;
      if (Be32(entry + children + 4) == FourCc("esds")) {
        track.objectType = ObjectType(std::span(entry + children + 8, size - 8));
        break;
      }
      children += size;
    }
  }
}

// A table box: its entries start `skip` bytes into its body, after version,
// flags and the count.
Table TableAt(Context& c, const Box& box, int64_t skip, int64_t entryBytes, uint32_t claimed,
              const char* name) {
  Table table;
  table.first = box.Body() + skip;
  table.claimed = claimed;
  table.held = std::clamp<int64_t>((box.end - table.first) / entryBytes, 0, claimed);
  if (table.held < table.claimed) {
    c.Problem(box.offset, std::string("its ") + name + " table claims " + std::to_string(claimed) +
                              " entries, and its box holds " + std::to_string(table.held));
  }
  return table;
}

void ReadSampleTable(Context& c, size_t index, const Box& stbl, int depth, Box* stsd) {
  Track& track = c.facts.tracks[index];
  TrackTables& tables = c.tables[index];
  ForEachChild(c, stbl.Body(), stbl.end, depth, [&](const Box& box) {
    const std::vector<uint8_t> head = ReadBody(c.source, box, 12);
    const uint32_t count = head.size() >= 8 ? Be32(head.data() + 4) : 0;
    switch (box.type) {
      case FourCc("stsd"):
        *stsd = box;
        break;
      case FourCc("stts"):
        tables.stts = TableAt(c, box, 8, 8, count, "time-to-sample");
        break;
      case FourCc("stsc"):
        tables.stsc = TableAt(c, box, 8, 12, count, "sample-to-chunk");
        break;
      case FourCc("stsz"):
        if (head.size() < 12) break;
        tables.constantSize = Be32(head.data() + 4);
        track.samples = Be32(head.data() + 8);
        if (tables.constantSize == 0) {
          tables.stsz = TableAt(c, box, 12, 4, Be32(head.data() + 8), "sample size");
        } else {
          tables.stsz = Table{box.Body() + 12, track.samples, 0};
        }
        break;
      case FourCc("stz2"):
        // Compact sizes: counted; where its samples lie is not worked out.
        if (head.size() >= 12) track.samples = Be32(head.data() + 8);
        break;
      case FourCc("stco"):
      case FourCc("co64"):
        tables.co64 = box.type == FourCc("co64");
        tables.stco = TableAt(c, box, 8, tables.co64 ? 8 : 4, count, "chunk offset");
        track.chunks = tables.stco.held;
        break;
      case FourCc("stss"):
        track.keyframes = TableAt(c, box, 8, 4, count, "sync sample").held;
        break;
      default:
        break;
    }
  });
}

void ReadTrack(Context& c, const Box& trak, int depth) {
  if (static_cast<int>(c.facts.tracks.size()) >= c.limits.maxTracks) {
    c.Refuse(Refusal::kTooManyTracks, "it has more than " + std::to_string(c.limits.maxTracks) +
                                          " tracks, more than any real video");
    return;
  }
  c.facts.tracks.emplace_back();
  c.tables.emplace_back();
  const size_t index = c.facts.tracks.size() - 1;
  Track& track = c.facts.tracks[index];
  Box stsd{};
  bool haveStsd = false;
  int tkhdWidth = 0, tkhdHeight = 0;
  const auto mediaInfo = [&](const Box& minf) {
    ForEachChild(c, minf.Body(), minf.end, depth + 3, [&](const Box& box) {
      if (box.type != FourCc("stbl")) return;
      ReadSampleTable(c, index, box, depth + 4, &stsd);
      haveStsd = stsd.type == FourCc("stsd");
    });
  };
  const auto media = [&](const Box& mdia) {
    ForEachChild(c, mdia.Body(), mdia.end, depth + 2, [&](const Box& box) {
      if (box.type == FourCc("mdhd")) {
        TimescaleAndDuration(ReadBody(c.source, box, kSmallBoxBytes), &track.timescale,
                             &track.mediaDuration);
      } else if (box.type == FourCc("hdlr")) {
        const std::vector<uint8_t> body = ReadBody(c.source, box, 12);
        if (body.size() < 12) return;
        const uint32_t type = Be32(body.data() + 8);
        track.handler = FourCcText(type);
        track.kind = type == FourCc("vide")   ? TrackKind::kVideo
                     : type == FourCc("soun") ? TrackKind::kAudio
                                              : TrackKind::kOther;
      } else if (box.type == FourCc("minf")) {
        mediaInfo(box);
      }
    });
  };
  ForEachChild(c, trak.Body(), trak.end, depth + 1, [&](const Box& box) {
    if (box.type == FourCc("tkhd")) {
      const std::vector<uint8_t> body = ReadBody(c.source, box, kSmallBoxBytes);
      const bool v1 = !body.empty() && body[0] == 1;
      const size_t idAt = v1 ? 20 : 12;
      const size_t sizeAt = v1 ? 88 : 76;
      if (body.size() >= idAt + 4) track.id = Be32(body.data() + idAt);
      if (body.size() >= sizeAt + 8) {
        tkhdWidth = static_cast<int>(Be32(body.data() + sizeAt) >> 16);
        tkhdHeight = static_cast<int>(Be32(body.data() + sizeAt + 4) >> 16);
      }
    } else if (box.type == FourCc("mdia")) {
      media(box);
    }
  });
  if (c.Refused()) return;
  if (haveStsd) ReadSampleEntry(c, track, stsd);
  if (track.kind == TrackKind::kVideo && track.width == 0) {
    track.width = tkhdWidth;
    track.height = tkhdHeight;
  }
  if (!CountSamples(c, index)) return;
  FindHeldSamples(c, index);
  // Fragments go on from where the header's own samples end.
  c.tables[index].nextDecodeTicks = track.durationTicks;
}

void ReadMovieExtends(Context& c, const Box& mvex, int depth) {
  ForEachChild(c, mvex.Body(), mvex.end, depth + 1, [&](const Box& box) {
    const std::vector<uint8_t> body = ReadBody(c.source, box, 24);
    if (box.type == FourCc("mehd") && body.size() >= 8) {
      const uint64_t d =
          body[0] == 1 && body.size() >= 12 ? Be64(body.data() + 4) : Be32(body.data() + 4);
      if (c.facts.movieDuration == 0) c.facts.movieDuration = d;
    } else if (box.type == FourCc("trex") && body.size() >= 24) {
      const int index = c.TrackIndex(Be32(body.data() + 4));
      if (index < 0) return;
      c.tables[size_t(index)].defaultDuration = Be32(body.data() + 12);
      c.tables[size_t(index)].defaultSize = Be32(body.data() + 16);
    }
  });
}

}  // namespace

void ReadMovieHeader(Context& c, const Box& moov) {
  c.facts.moovOffset = moov.offset;
  c.facts.moovBytes = moov.end - moov.offset;
  // The movie header's children come in any order; mvex names tracks, so it
  // is read once they are known.
  std::vector<Box> extends;
  ForEachChild(c, moov.Body(), moov.end, 1, [&](const Box& box) {
    switch (box.type) {
      case FourCc("cmov"):
        c.Refuse(Refusal::kCompressedHeader,
                 "its movie header (moov) is compressed, which the player does not unpack: "
                 "unpacking it has no bound on the memory it takes");
        break;
      case FourCc("mvhd"):
        TimescaleAndDuration(ReadBody(c.source, box, kSmallBoxBytes), &c.facts.movieTimescale,
                             &c.facts.movieDuration);
        break;
      case FourCc("trak"):
        ReadTrack(c, box, 1);
        break;
      case FourCc("mvex"):
        if (extends.empty()) extends.push_back(box);
        break;
      default:
        break;
    }
  });
  for (const Box& mvex : extends) {
    if (!c.Refused()) ReadMovieExtends(c, mvex, 1);
  }
}

}  // namespace mp4_reader::walk
