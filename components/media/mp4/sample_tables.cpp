#include "media/mp4/sample_tables.h"

#include <algorithm>

namespace mp4_reader::walk {
namespace {

// The engine reads a sound track whose one time entry gives every sample a
// tick of its own (PCM) a chunk at a time, in pieces of up to 1024 samples,
// and indexes the pieces rather than the samples.
bool IndexedByChunk(Context& c, const Track& track, const TrackTables& tables) {
  if (track.kind != TrackKind::kAudio || tables.stts.held != 1) return false;
  uint8_t entry[8];
  return ReadExactly(c.source, tables.stts.first, entry, 8) && Be32(entry + 4) == 1;
}

// The pieces the engine makes of every chunk, from the sample-to-chunk runs.
int64_t ChunkPieces(Context& c, const TrackTables& tables) {
  EntryCursor runs(&c.source, tables.stsc.first, tables.stsc.held, 12);
  const int64_t chunks = tables.stco.held;
  int64_t pieces = 0;
  const uint8_t* entry = runs.Next();
  while (entry) {
    const int64_t first = Be32(entry);
    const int64_t perChunk = Be32(entry + 4);
    const uint8_t* next = runs.Next();
    const int64_t until = next ? std::min<int64_t>(Be32(next), chunks + 1) : chunks + 1;
    if (until > first) {
      pieces = SaturatingAdd(pieces, SaturatingMul(until - first, (perChunk + 1023) / 1024));
    }
    entry = next;
  }
  return pieces;
}

// Where sample `index` starts to decode: the time entries added up to it.
int64_t DecodeTicks(Context& c, const TrackTables& tables, int64_t index) {
  EntryCursor times(&c.source, tables.stts.first, tables.stts.held, 8);
  int64_t ticks = 0;
  while (index > 0) {
    const uint8_t* entry = times.Next();
    if (!entry) break;
    const int64_t n = std::min<int64_t>(Be32(entry), index);
    ticks = SaturatingAdd(ticks, SaturatingMul(n, Be32(entry + 4)));
    index -= n;
  }
  return ticks;
}

struct Held {
  int64_t samples = 0;
  int64_t bytes = 0;
  int64_t cutOffset = -1;
};

// Walks the chunks in table order with their samples, up to the first
// sample whose bytes reach past `fileSize`.
Held Place(Context& c, const Track& track, const TrackTables& tables, int64_t fileSize) {
  Held held;
  const int64_t total =
      tables.constantSize ? track.samples : std::min(track.samples, tables.stsz.held);
  EntryCursor runs(&c.source, tables.stsc.first, tables.stsc.held, 12);
  EntryCursor offsets(&c.source, tables.stco.first, tables.stco.held, tables.co64 ? 8 : 4);
  EntryCursor sizes;
  if (!tables.constantSize) sizes = EntryCursor(&c.source, tables.stsz.first, total, 4);
  const uint8_t* run = runs.Next();
  const uint8_t* nextRun = runs.Next();
  int64_t perChunk = run ? Be32(run + 4) : 0;
  for (int64_t chunk = 1; held.samples < total; ++chunk) {
    const uint8_t* entry = offsets.Next();
    if (!entry) break;
    const uint64_t raw = tables.co64 ? Be64(entry) : Be32(entry);
    int64_t at = raw > uint64_t(INT64_MAX / 2) ? INT64_MAX / 2 : static_cast<int64_t>(raw);
    while (nextRun && Be32(nextRun) <= chunk) {
      perChunk = Be32(nextRun + 4);
      nextRun = runs.Next();
    }
    const int64_t n = std::min(perChunk, total - held.samples);
    if (tables.constantSize) {
      const int64_t size = tables.constantSize;
      const int64_t bytes = SaturatingMul(n, size);
      if (SaturatingAdd(at, bytes) > fileSize) {
        const int64_t whole = at >= fileSize ? 0 : (fileSize - at) / size;
        held.samples += whole;
        held.bytes = SaturatingAdd(held.bytes, whole * size);
        held.cutOffset = at + whole * size;
        return held;
      }
      held.samples += n;
      held.bytes = SaturatingAdd(held.bytes, bytes);
      continue;
    }
    for (int64_t k = 0; k < n; ++k) {
      const uint8_t* size = sizes.Next();
      if (!size) return held;
      const int64_t end = SaturatingAdd(at, Be32(size));
      if (end > fileSize) {
        held.cutOffset = at;
        return held;
      }
      at = end;
      held.bytes += Be32(size);
      ++held.samples;
    }
  }
  return held;
}

}  // namespace

bool CountSamples(Context& c, size_t index) {
  Track& track = c.facts.tracks[index];
  TrackTables& tables = c.tables[index];
  // Tables the engine keeps whole in memory, whatever else they cost.
  for (const Table* table : {&tables.stts, &tables.stsc, &tables.stco}) {
    if (table->held > c.limits.maxTrackSamples) return c.AddIndexCost(index, table->held);
  }
  int64_t cost = track.samples;
  if (IndexedByChunk(c, track, tables)) {
    cost = ChunkPieces(c, tables) + (tables.constantSize ? 0 : track.samples);
  }
  if (!c.AddIndexCost(index, cost)) return false;
  EntryCursor times(&c.source, tables.stts.first, tables.stts.held, 8);
  int64_t timed = 0;
  while (const uint8_t* entry = times.Next()) {
    timed = SaturatingAdd(timed, Be32(entry));
    track.durationTicks =
        SaturatingAdd(track.durationTicks, SaturatingMul(Be32(entry), Be32(entry + 4)));
  }
  if (tables.stts.present() && timed != track.samples) {
    c.Problem(tables.stts.first, "track " + std::to_string(track.id) + " times " +
                                     std::to_string(timed) + " samples and sizes " +
                                     std::to_string(track.samples));
  }
  return true;
}

void FindHeldSamples(Context& c, size_t index) {
  Track& track = c.facts.tracks[index];
  const TrackTables& tables = c.tables[index];
  track.heldSamples = track.samples;
  track.heldTicks = track.durationTicks;
  const bool placeable = tables.stsc.present() && tables.stco.present() &&
                         (tables.constantSize || tables.stsz.present());
  if (!placeable || track.samples == 0) return;
  const Held held = Place(c, track, tables, c.facts.fileSize);
  track.heldSamples = held.samples;
  track.heldBytes = held.bytes;
  track.heldTicks = DecodeTicks(c, tables, held.samples);
  if (held.cutOffset >= 0) {
    track.cut = true;
    track.cutOffset = held.cutOffset;
  } else if (held.samples < track.samples) {
    c.Problem(tables.stco.first, "track " + std::to_string(track.id) + " places only " +
                                     std::to_string(held.samples) + " of its " +
                                     std::to_string(track.samples) + " samples in chunks");
  }
}

}  // namespace mp4_reader::walk
