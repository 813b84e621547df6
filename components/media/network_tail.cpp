#include "media/network_tail.h"

#include <algorithm>

#include "media/flv/byte_source.h"
#include "media/flv/tail.h"

namespace network_tail {
namespace {

constexpr int kTagHeader = 11;
// Tags looked at from each end: enough to meet both streams.
constexpr int kTags = 32;
// No real FLV averages fewer bytes a second: even sound alone at its lowest
// bit rate is a kilobyte a second, and each tag adds 15 bytes.
constexpr int64_t kLeastBytesPerSecond = 256;

uint32_t Be(const uint8_t* p, int n) {
  uint32_t value = 0;
  for (int i = 0; i < n; ++i) value = value << 8 | p[i];
  return value;
}

// The codecs of the tags seen: the FLV id, or an enhanced tag's FourCC;
// 0 while none was seen.
struct Codecs {
  uint32_t audio = 0;
  uint32_t video = 0;
  int64_t firstMs = -1;
};

void Note(const uint8_t* tag, int64_t available, Codecs* codecs) {
  const int type = tag[0] & 0x1f;
  const uint32_t bodySize = Be(tag + 1, 3);
  if (bodySize == 0 || available < kTagHeader + 5) return;
  const uint8_t* body = tag + kTagHeader;
  const int64_t ms = int64_t(Be(tag + 4, 3) | uint32_t(tag[7]) << 24);
  if (type == 8) {
    const uint32_t format = body[0] >> 4;
    // Enhanced audio (format 9) says its codec by FourCC.
    const uint32_t codec = format == 9 && bodySize >= 5 ? Be(body + 1, 4) : format + 1;
    if (!codecs->audio) codecs->audio = codec;
  } else if (type == 9) {
    const bool enhanced = body[0] & 0x80;
    const uint32_t codec = enhanced && bodySize >= 5 ? Be(body + 1, 4) : (body[0] & 0x0f) + 1u;
    if (!codecs->video) codecs->video = codec;
  } else {
    return;
  }
  if (codecs->firstMs < 0) codecs->firstMs = ms;
}

// The first tags of the file's start, by their own sizes.
Codecs OfStart(const std::string& head) {
  Codecs codecs;
  const auto* bytes = reinterpret_cast<const uint8_t*>(head.data());
  const int64_t size = int64_t(head.size());
  if (size < 9 || head.compare(0, 3, "FLV") != 0) return codecs;
  int64_t at = int64_t(Be(bytes + 5, 4)) + 4;
  for (int i = 0; i < kTags && at + kTagHeader <= size; ++i) {
    Note(bytes + at, size - at, &codecs);
    at += kTagHeader + Be(bytes + at + 1, 3) + 4;
  }
  return codecs;
}

// The last tags of the tail, from its end by their PreviousTagSize fields.
Codecs OfEnd(const Tail& tail) {
  Codecs codecs;
  const uint8_t* bytes = tail.bytes.data();
  int64_t end = int64_t(tail.bytes.size());
  for (int i = 0; i < kTags && end >= 4; ++i) {
    const int64_t previous = Be(bytes + end - 4, 4);
    const int64_t at = end - 4 - previous;
    if (previous < kTagHeader || at < 0) break;
    if (kTagHeader + int64_t(Be(bytes + at + 1, 3)) != previous) break;
    Note(bytes + at, end - 4 - at, &codecs);
    end = at;
  }
  return codecs;
}

bool Differ(uint32_t a, uint32_t b) { return a && b && a != b; }

}  // namespace

int64_t EndIfItFits(const std::string& head, int64_t size, const Tail& tail) {
  if (size < 0 || tail.total != size || tail.bytes.empty()) return -1;
  const flv_reader::MemorySource source(
      std::span<const uint8_t>(tail.bytes.data(), tail.bytes.size()), tail.first, tail.total);
  flv_reader::TailOptions options;
  options.bytes = int64_t(tail.bytes.size());
  const flv_reader::TailInfo info = flv_reader::ReadTail(source, options);
  if (!info.found || info.endMs < 0) return -1;
  const Codecs start = OfStart(head);
  const Codecs end = OfEnd(tail);
  if (Differ(start.audio, end.audio) || Differ(start.video, end.video)) return -1;
  const int64_t firstMs = std::max<int64_t>(start.firstMs, 0);
  if (info.endMs < firstMs) return -1;
  const int64_t seconds = (info.endMs - firstMs) / 1000;
  if (seconds > 0 && size / seconds < kLeastBytesPerSecond) return -1;
  return info.endMs;
}

}  // namespace network_tail
