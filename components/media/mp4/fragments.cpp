#include "media/mp4/fragments.h"

#include <algorithm>

namespace mp4_reader::walk {
namespace {

constexpr uint32_t kBaseDataOffset = 0x1;
constexpr uint32_t kDefaultDuration = 0x8;
constexpr uint32_t kDefaultSize = 0x10;

constexpr uint32_t kDataOffset = 0x1;
constexpr uint32_t kFirstSampleFlags = 0x4;
constexpr uint32_t kSampleDuration = 0x100;
constexpr uint32_t kSampleSize = 0x200;
constexpr uint32_t kSampleFlags = 0x400;
constexpr uint32_t kSampleTimeOffset = 0x800;

struct FragmentTrack {
  int index = -1;
  int64_t base = 0;
  uint32_t duration = 0;
  uint32_t size = 0;
  int64_t dataAt = 0;  // where the next run's samples start without an offset of their own
};

void ReadHeader(Context& c, const Box& tfhd, const Box& moof, FragmentTrack* f) {
  const std::vector<uint8_t> body = ReadBody(c.source, tfhd, 40);
  if (body.size() < 8) return;
  const uint32_t flags = Be32(body.data()) & 0xffffff;
  f->index = c.TrackIndex(Be32(body.data() + 4));
  if (f->index < 0) {
    c.Problem(tfhd.offset, "a fragment names track " + std::to_string(Be32(body.data() + 4)) +
                               ", which the movie header does not have");
    return;
  }
  const TrackTables& tables = c.tables[size_t(f->index)];
  f->duration = tables.defaultDuration;
  f->size = tables.defaultSize;
  f->base = moof.offset;
  size_t at = 8;
  const auto field = [&](uint32_t flag, size_t bytes) -> const uint8_t* {
    if (!(flags & flag) || body.size() < at + bytes) return nullptr;
    const uint8_t* p = body.data() + at;
    at += bytes;
    return p;
  };
  if (const uint8_t* p = field(kBaseDataOffset, 8)) {
    const uint64_t base = Be64(p);
    f->base = base > uint64_t(INT64_MAX / 2) ? INT64_MAX / 2 : static_cast<int64_t>(base);
  }
  field(0x2, 4);  // sample description index
  if (const uint8_t* p = field(kDefaultDuration, 4)) f->duration = Be32(p);
  if (const uint8_t* p = field(kDefaultSize, 4)) f->size = Be32(p);
  f->dataAt = f->base;
}

void ReadRun(Context& c, const Box& trun, FragmentTrack& f) {
  const std::vector<uint8_t> head = ReadBody(c.source, trun, 16);
  if (head.size() < 8 || f.index < 0) return;
  const uint32_t flags = Be32(head.data()) & 0xffffff;
  const int64_t count = Be32(head.data() + 4);
  Track& track = c.facts.tracks[size_t(f.index)];
  TrackTables& tables = c.tables[size_t(f.index)];
  if (!c.AddIndexCost(size_t(f.index), count)) return;
  int64_t skip = 8;
  if (flags & kDataOffset) {
    if (head.size() < 12) return;
    const auto offset = static_cast<int32_t>(Be32(head.data() + 8));
    f.dataAt = std::max<int64_t>(f.base + offset, 0);  // the base is at most INT64_MAX / 2
    skip += 4;
  }
  if (flags & kFirstSampleFlags) skip += 4;
  int entryBytes = 0;
  for (const uint32_t field : {kSampleDuration, kSampleSize, kSampleFlags, kSampleTimeOffset}) {
    if (flags & field) entryBytes += 4;
  }
  int64_t entries = count;
  if (entryBytes > 0) {
    const int64_t room = std::max<int64_t>(trun.end - trun.Body() - skip, 0) / entryBytes;
    if (room < count) {
      c.Problem(trun.offset, "a fragment's run claims " + std::to_string(count) +
                                 " samples, and its box holds " + std::to_string(room));
      entries = room;
    }
  }
  EntryCursor cursor(&c.source, trun.Body() + skip, entryBytes ? entries : 0,
                     entryBytes ? entryBytes : 1);
  track.fragmented = true;
  const int64_t fileSize = c.facts.fileSize;
  for (int64_t k = 0; k < entries; ++k) {
    uint32_t duration = f.duration, size = f.size;
    if (entryBytes > 0) {
      const uint8_t* entry = cursor.Next();
      if (!entry) break;
      if (flags & kSampleDuration) duration = Be32(entry);
      if (flags & kSampleSize) size = Be32(entry + ((flags & kSampleDuration) ? 4 : 0));
    } else if (!track.cut &&
               SaturatingAdd(f.dataAt, SaturatingMul(size, entries - k)) <= fileSize) {
      // Every sample alike and all in the file: the run at once.
      const int64_t n = entries - k;
      track.samples += n;
      track.heldSamples += n;
      track.heldBytes = SaturatingAdd(track.heldBytes, SaturatingMul(size, n));
      tables.nextDecodeTicks = SaturatingAdd(tables.nextDecodeTicks, SaturatingMul(duration, n));
      track.heldTicks = tables.nextDecodeTicks;
      f.dataAt = SaturatingAdd(f.dataAt, SaturatingMul(size, n));
      break;
    }
    const int64_t end = SaturatingAdd(f.dataAt, size);
    ++track.samples;
    if (!track.cut && end > fileSize) {
      track.cut = true;
      track.cutOffset = f.dataAt;
      track.heldTicks = tables.nextDecodeTicks;
    } else if (!track.cut) {
      ++track.heldSamples;
      track.heldBytes = SaturatingAdd(track.heldBytes, size);
      track.heldTicks = SaturatingAdd(tables.nextDecodeTicks, duration);
    }
    tables.nextDecodeTicks = SaturatingAdd(tables.nextDecodeTicks, duration);
    f.dataAt = end;
  }
  track.durationTicks = std::max(track.durationTicks, tables.nextDecodeTicks);
}

}  // namespace

void ReadFragment(Context& c, const Box& moof) {
  ++c.facts.fragments;
  if (c.facts.moovOffset < 0) {
    c.Problem(moof.offset, "a fragment comes before the movie header");
    return;
  }
  ForEachChild(c, moof.Body(), moof.end, 1, [&](const Box& traf) {
    if (traf.type != FourCc("traf")) return;
    FragmentTrack f;
    ForEachChild(c, traf.Body(), traf.end, 2, [&](const Box& box) {
      if (box.type == FourCc("tfhd")) {
        ReadHeader(c, box, moof, &f);
      } else if (box.type == FourCc("tfdt") && f.index >= 0) {
        const std::vector<uint8_t> body = ReadBody(c.source, box, 12);
        if (body.size() < 8) return;
        const uint64_t t =
            body[0] == 1 && body.size() >= 12 ? Be64(body.data() + 4) : Be32(body.data() + 4);
        c.tables[size_t(f.index)].nextDecodeTicks =
            static_cast<int64_t>(std::min<uint64_t>(t, INT64_MAX / 4));
      } else if (box.type == FourCc("trun")) {
        ReadRun(c, box, f);
      }
    });
  });
}

}  // namespace mp4_reader::walk
