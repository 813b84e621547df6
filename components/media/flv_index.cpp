#include "media/flv_index.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace flv_index {
namespace {

constexpr int kHeaderBytes = 9;
constexpr int kTagHeaderBytes = 11;
// A script tag's size field has 24 bits.
constexpr qint64 kMaxTagBody = (qint64{1} << 24) - 1;

class Amf {
 public:
  void Number(double value) {
    bytes_ += char(0x00);
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    char raw[8];
    qToBigEndian(bits, raw);
    bytes_.append(raw, 8);
  }
  void Boolean(bool value) {
    bytes_ += char(0x01);
    bytes_ += char(value ? 1 : 0);
  }
  void String(const char* text) {
    bytes_ += char(0x02);
    Name(text);
  }
  void Name(const char* text) {
    const auto length = quint16(std::strlen(text));
    bytes_ += char(length >> 8);
    bytes_ += char(length & 0xff);
    bytes_ += text;
  }
  void EcmaArray(quint32 count) {
    bytes_ += char(0x08);
    char raw[4];
    qToBigEndian(count, raw);
    bytes_.append(raw, 4);
  }
  void Object() { bytes_ += char(0x03); }
  void End() { bytes_.append("\x00\x00\x09", 3); }
  void StrictArray(const std::vector<double>& values) {
    bytes_ += char(0x0a);
    char raw[4];
    qToBigEndian(quint32(values.size()), raw);
    bytes_.append(raw, 4);
    for (const double v : values) Number(v);
  }
  const QByteArray& bytes() const { return bytes_; }

 private:
  QByteArray bytes_;
};

void Uint24(QByteArray& out, qint64 value) {
  out += char((value >> 16) & 0xff);
  out += char((value >> 8) & 0xff);
  out += char(value & 0xff);
}

void Uint32(QByteArray& out, qint64 value) {
  char raw[4];
  qToBigEndian(quint32(value), raw);
  out.append(raw, 4);
}

// How many bytes of the cuts lie before `offset`.
qint64 CutBefore(const Cuts& cuts, qint64 offset) {
  qint64 cut = 0;
  for (const auto& [from, to] : cuts) {
    if (from >= offset) break;
    cut += std::min(to, offset) - from;
  }
  return cut;
}

// The body of the onMetaData tag, with positions shifted by `shift` and the
// cuts left out; the keyframes only with `withIndex`.
QByteArray Body(const flv_reader::Facts& facts, bool withIndex, qint64 shift, const Cuts& cuts) {
  std::vector<double> times;
  std::vector<double> positions;
  times.reserve(facts.index.entries.size());
  positions.reserve(facts.index.entries.size());
  for (const flv_reader::IndexEntry& entry : facts.index.entries) {
    times.push_back(double(entry.timeMs) / 1000.0);
    positions.push_back(double(entry.offset + shift - CutBefore(cuts, entry.offset)));
  }
  const flv_reader::StreamFacts& video = facts.streams.video;
  Amf amf;
  amf.String("onMetaData");
  const bool size = video.width > 0 && video.height > 0;
  const bool rate = std::isfinite(video.frameRate) && video.frameRate > 0;
  amf.EcmaArray(1 + (withIndex ? 1 : 0) + (size ? 2 : 0) + (rate ? 1 : 0));
  // Where the last frame ends, on the file's own clock: the engine's FLV
  // reader takes the duration as the end time.
  amf.Name("duration");
  amf.Number(double(facts.clock.endMs) / 1000.0);
  if (size) {
    amf.Name("width");
    amf.Number(video.width);
    amf.Name("height");
    amf.Number(video.height);
  }
  if (rate) {
    amf.Name("framerate");
    amf.Number(video.frameRate);
  }
  if (withIndex) {
    amf.Name("keyframes");
    amf.Object();
    amf.Name("times");
    amf.StrictArray(times);
    amf.Name("filepositions");
    amf.StrictArray(positions);
    amf.End();
  }
  amf.End();
  return amf.bytes();
}

}  // namespace

double SeekLeadSeconds(const flv_reader::Facts& facts) {
  constexpr double kLongestLead = 60;
  constexpr double kShortestLead = 1;
  double longest = 0;
  if (facts.index.kind == flv_reader::IndexKind::kVideoKeyframes &&
      facts.index.entries.size() >= 2) {
    for (size_t i = 1; i < facts.index.entries.size(); ++i) {
      longest = std::max(
          longest,
          double(facts.index.entries[i].timeMs - facts.index.entries[i - 1].timeMs) / 1000);
    }
  } else {
    // The file's own index, when the walk has not covered the whole file.
    const std::vector<double>& times = facts.scripts.metadata.keyframeTimes;
    for (size_t i = 1; i < times.size(); ++i) longest = std::max(longest, times[i] - times[i - 1]);
  }
  if (!(longest > 0)) return 0;
  return std::clamp(2 * longest, kShortestLead, kLongestLead);
}

qint64 RealStart(const flv_reader::Facts& facts) {
  return qint64{std::max<uint32_t>(facts.file.header.dataOffset, kHeaderBytes)} + 4;
}

bool IndexWorthGiving(const flv_reader::Facts& facts, qint64 indexFromBytes) {
  return facts.file.size >= indexFromBytes &&
         facts.index.kind == flv_reader::IndexKind::kVideoKeyframes &&
         facts.index.entries.size() >= 2;
}

Cuts NoTagStretches(const flv_reader::Facts& facts) {
  Cuts cuts;
  for (const flv_reader::ByteRange& region : facts.damage.noTagRegions) {
    cuts.emplace_back(region.from, region.to);
  }
  return cuts;
}

QByteArray Prefix(const flv_reader::Facts& facts, bool withIndex, const Cuts& cuts) {
  if (!facts.file.isFlv || facts.file.coverage != flv_reader::Coverage::kComplete ||
      facts.clock.endMs <= 0) {
    return {};
  }
  if (withIndex && (facts.index.kind != flv_reader::IndexKind::kVideoKeyframes ||
                    facts.index.entries.size() < 2)) {
    return {};
  }
  // The body's size does not depend on the positions (every number takes
  // nine bytes), so the shift can be worked out from a first draft.
  const qint64 bodyBytes = Body(facts, withIndex, 0, cuts).size();
  if (bodyBytes > kMaxTagBody) return {};
  const qint64 prefixBytes = kHeaderBytes + 4 + kTagHeaderBytes + bodyBytes + 4;
  const QByteArray body = Body(facts, withIndex, prefixBytes - RealStart(facts), cuts);

  QByteArray prefix("FLV\x01", 4);
  // Audio and video flags as the file has them; nothing else.
  prefix += char(facts.file.header.flags & 0x05);
  Uint32(prefix, kHeaderBytes);
  Uint32(prefix, 0);
  prefix += char(18);
  Uint24(prefix, body.size());
  prefix.append(QByteArray(7, '\0'));  // timestamp, its extension, stream id
  prefix += body;
  Uint32(prefix, kTagHeaderBytes + body.size());
  return prefix;
}

}  // namespace flv_index
