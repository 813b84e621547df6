#pragma once

#include <QByteArray>
#include <QtEndian>
#include <cstdint>
#include <vector>

// Writes small MP4 files for tests: an ftyp, a movie header with one track
// for each Track given (sample tables included) and the samples in an mdat, chunks of
// the tracks taking turns. The samples' bytes are filler; what is tested is
// where the boxes say they are.
namespace mp4test {

inline QByteArray U16(uint16_t v) {
  QByteArray b(2, '\0');
  qToBigEndian(v, b.data());
  return b;
}
inline QByteArray U32(uint32_t v) {
  QByteArray b(4, '\0');
  qToBigEndian(v, b.data());
  return b;
}
inline QByteArray U64(uint64_t v) {
  QByteArray b(8, '\0');
  qToBigEndian(v, b.data());
  return b;
}
inline QByteArray Box(const char* type, const QByteArray& body) {
  return U32(uint32_t(8 + body.size())) + QByteArray(type, 4) + body;
}
inline QByteArray FullBox(const char* type, const QByteArray& body, uint8_t version = 0) {
  return Box(type, U32(uint32_t(version) << 24) + body);
}

struct Track {
  bool video = true;
  QByteArray codec = "avc1";
  uint32_t timescale = 1000;
  uint32_t delta = 40;  // ticks from one sample to the next
  uint32_t samples = 50;
  uint32_t sampleSize = 100;
  bool constantSize = false;  // one size in stsz instead of a table
  uint32_t perChunk = 5;
  int width = 320, height = 240;
  int rate = 44100, channels = 2;
  // Claims written over the true ones, for files that lie.
  int64_t claimedSamples = -1;
  int64_t claimedPerChunk = -1;
};

struct Movie {
  std::vector<Track> tracks;
  uint32_t timescale = 1000;
  uint32_t duration = 0;  // mvhd's; 0: the longest track's
  bool headerFirst = true;
};

inline QByteArray SampleEntry(const Track& t) {
  QByteArray e = QByteArray(6, '\0') + U16(1);
  if (t.video) {
    e += QByteArray(16, '\0') + U16(uint16_t(t.width)) + U16(uint16_t(t.height)) +
         QByteArray(50, '\0');
  } else {
    e += QByteArray(8, '\0') + U16(uint16_t(t.channels)) + U16(16) + U32(0) +
         U32(uint32_t(t.rate) << 16);
  }
  return U32(uint32_t(8 + e.size())) + t.codec.left(4) + e;
}

// The track's boxes, with its chunks at `chunkOffsets`.
inline QByteArray Trak(const Track& t, uint32_t id, const std::vector<uint32_t>& chunkOffsets) {
  const uint32_t count = t.claimedSamples >= 0 ? uint32_t(t.claimedSamples) : t.samples;
  QByteArray stsz = U32(t.constantSize ? t.sampleSize : 0) + U32(count);
  if (!t.constantSize) {
    QByteArray sizes(qsizetype(t.samples) * 4, Qt::Uninitialized);
    for (uint32_t i = 0; i < t.samples; ++i) qToBigEndian(t.sampleSize, sizes.data() + 4 * i);
    stsz += sizes;
  }
  QByteArray stco = U32(uint32_t(chunkOffsets.size()));
  for (uint32_t offset : chunkOffsets) stco += U32(offset);
  const QByteArray stbl =
      Box("stbl", FullBox("stsd", U32(1) + SampleEntry(t)) +
                      FullBox("stts", U32(1) + U32(t.samples) + U32(t.delta)) +
                      FullBox("stsc", U32(1) + U32(1) +
                                          U32(t.claimedPerChunk >= 0 ? uint32_t(t.claimedPerChunk)
                                                                     : t.perChunk) +
                                          U32(1)) +
                      FullBox("stsz", stsz) + FullBox("stco", stco));
  const uint32_t duration = t.samples * t.delta;
  const QByteArray mdia =
      Box("mdia", FullBox("mdhd", U32(0) + U32(0) + U32(t.timescale) + U32(duration) + U32(0)) +
                      FullBox("hdlr", U32(0) + QByteArray(t.video ? "vide" : "soun") +
                                          QByteArray(12, '\0') + QByteArray(1, '\0')) +
                      Box("minf", stbl));
  const QByteArray tkhd =
      FullBox("tkhd", U32(0) + U32(0) + U32(id) + U32(0) + U32(duration) + QByteArray(52, '\0') +
                          U32(uint32_t(t.width) << 16) + U32(uint32_t(t.height) << 16));
  return Box("trak", tkhd + mdia);
}

inline uint32_t Chunks(const Track& t) { return (t.samples + t.perChunk - 1) / t.perChunk; }

inline QByteArray Moov(const Movie& m, const std::vector<std::vector<uint32_t>>& offsets) {
  uint32_t longest = 0;
  for (const Track& t : m.tracks) {
    longest = std::max<uint32_t>(
        longest, uint32_t(uint64_t(t.samples) * t.delta * m.timescale / t.timescale));
  }
  QByteArray body =
      FullBox("mvhd", U32(0) + U32(0) + U32(m.timescale) + U32(m.duration ? m.duration : longest) +
                          QByteArray(80, '\0'));
  for (size_t i = 0; i < m.tracks.size(); ++i)
    body += Trak(m.tracks[i], uint32_t(i + 1), offsets[i]);
  return Box("moov", body);
}

// The whole file.
inline QByteArray Make(const Movie& m) {
  const QByteArray ftyp = Box("ftyp", QByteArray("isom") + U32(512) + "isomiso2avc1mp41");
  // The header's size does not depend on where the chunks are.
  std::vector<std::vector<uint32_t>> offsets(m.tracks.size());
  for (size_t i = 0; i < m.tracks.size(); ++i) offsets[i].assign(Chunks(m.tracks[i]), 0);
  const qsizetype moovSize = Moov(m, offsets).size();
  // Chunks take turns: the first of each track, then the second, ...
  QByteArray media;
  const uint32_t start = uint32_t(ftyp.size() + (m.headerFirst ? moovSize : 0) + 8);
  uint32_t most = 0;
  for (const Track& t : m.tracks) most = std::max(most, Chunks(t));
  for (uint32_t c = 0; c < most; ++c) {
    for (size_t i = 0; i < m.tracks.size(); ++i) {
      const Track& t = m.tracks[i];
      if (c >= Chunks(t)) continue;
      offsets[i][c] = start + uint32_t(media.size());
      const uint32_t n = std::min(t.perChunk, t.samples - c * t.perChunk);
      media += QByteArray(qsizetype(n) * t.sampleSize, char(0x10 + i));
    }
  }
  const QByteArray mdat = Box("mdat", media);
  const QByteArray moov = Moov(m, offsets);
  return m.headerFirst ? ftyp + moov + mdat : ftyp + mdat + moov;
}

// 2 s of 25 fps video and 44.1 kHz sound (AAC-like frames of 1024 samples).
inline Movie AudioVideo() {
  Movie m;
  Track video;
  Track audio;
  audio.video = false;
  audio.codec = "mp4a";
  audio.timescale = 44100;
  audio.delta = 1024;
  audio.samples = 87;  // 2.02 s
  audio.sampleSize = 40;
  audio.perChunk = 10;
  m.tracks = {video, audio};
  return m;
}

}  // namespace mp4test
