#include "media/flv/tail.h"

#include <algorithm>
#include <vector>

#include "media/flv/flv_format.h"
#include "media/flv/media_tag.h"
#include "media/flv/walker.h"

namespace flv_reader {
namespace {

// A body's first bytes decide whether its tag is a frame: a flags byte and
// packet type, or an enhanced tag's ModEx, multitrack and FourCC headers.
constexpr int64_t kBodyBytesLooked = 24;

// The first bytes of a body, and nothing after them.
class PrefixBytes final : public BodyBytes {
 public:
  PrefixBytes(const uint8_t* bytes, size_t n) : bytes_(bytes), n_(n) {}
  std::span<const uint8_t> Get(size_t offset, size_t n) const override {
    if (offset >= n_) return {};
    return {bytes_ + offset, std::min(n, n_ - offset)};
  }

 private:
  const uint8_t* bytes_;
  size_t n_;
};

// Codec configuration and command frames carry no time of their own.
bool IsFrame(const TagHeader& tag, const uint8_t* body, int64_t bodyBytes) {
  if (bodyBytes < 1) return false;
  const bool modern =
      tag.type == kAudioTag
          ? (body[0] >> 4) == kAudioExHeader
          : tag.type == kVideoTag && ((body[0] & 0x80) || (body[0] & 0x0f) == kVideoHevc);
  if (modern) {
    // The first packet's headers are within the bytes at hand.
    const MediaTag media =
        ParseMediaTag(tag.type, tag.dataSize, PrefixBytes(body, static_cast<size_t>(bodyBytes)));
    return media.count > 0 && CodedFrames(media.packets[0]);
  }
  if (tag.type == kAudioTag) {
    return !((body[0] >> 4) == kAudioAac && bodyBytes >= 2 && body[1] == 0);
  }
  if (tag.type != kVideoTag || (body[0] >> 4) == 5) return false;
  return !((body[0] & 0x0f) == kVideoH264 && bodyBytes >= 2 && body[1] != 1);
}

}  // namespace

TailInfo ReadTail(const ByteSource& source, const TailOptions& options) {
  TailInfo info;
  const int64_t size = source.Size();
  info.fileSize = std::max<int64_t>(size, 0);
  const int64_t from =
      std::max({int64_t{0}, source.FirstHeld(), size - std::max<int64_t>(options.bytes, 1)});
  if (size <= 0 || from >= size) return info;
  std::vector<uint8_t> window(static_cast<size_t>(size - from));
  const int64_t got = source.ReadAt(from, window.data(), size - from);
  if (got <= 0) return info;
  window.resize(static_cast<size_t>(got));
  info.windowStart = from;
  info.windowEnd = from + got;
  info.reachesFileEnd = info.windowEnd == size;
  auto at = [&](int64_t offset) { return window.data() + (offset - from); };

  // Bytes from the window, or from a small read of their own before it.
  int extraReads = options.extraReads;
  uint8_t extra[kTagHeaderBytes + kBodyBytesLooked];
  auto bytes = [&](int64_t offset, int64_t n) -> const uint8_t* {
    if (offset >= from && offset + n <= info.windowEnd) return at(offset);
    if (offset < 0 || n > static_cast<int64_t>(sizeof extra) || extraReads-- <= 0) return nullptr;
    return source.ReadAt(offset, extra, n) == n ? extra : nullptr;
  };

  // Backwards: the last 4 bytes are the last tag's size, and so on.
  int64_t end = info.windowEnd;
  while (end >= kFileHeaderBytes + kPrevSizeBytes + kTagHeaderBytes) {
    const uint8_t* size = bytes(end - kPrevSizeBytes, kPrevSizeBytes);
    if (!size) break;
    const uint32_t previous = ReadU32(size);
    if (previous < kTagHeaderBytes || previous > end - kPrevSizeBytes) break;
    const int64_t tagAt = end - kPrevSizeBytes - previous;
    // The size field tells how much of the body there is to look at.
    const int64_t looked = std::min<int64_t>(previous - kTagHeaderBytes, kBodyBytesLooked);
    const uint8_t* header = bytes(tagAt, kTagHeaderBytes + looked);
    if (!header) break;
    const TagHeader tag = ParseTagHeader(header);
    if (!PlausibleTag(tag) || int64_t{tag.dataSize} + kTagHeaderBytes != previous) break;
    if (!info.found) {
      info.found = true;
      info.followedPrevTagSizes = true;
      info.lastTagOffset = tagAt;
    }
    if (IsFrame(tag, header + kTagHeaderBytes, looked)) {
      int64_t& last = tag.type == kAudioTag ? info.lastAudioMs : info.lastVideoMs;
      if (last < 0) last = tag.timestamp;
    }
    if (info.lastAudioMs >= 0 && info.lastVideoMs >= 0) break;
    end = tagAt;
  }

  if (!info.found) {
    // The end is no PreviousTagSize: a cut tag, trailing bytes, or a writer
    // that gets them wrong. The window is walked as a file of its own, which
    // finds its first tag the way it would after damage.
    MemorySource bytes(std::span<const uint8_t>(window), from, info.windowEnd);
    WalkOptions walkOptions;
    walkOptions.startOffset = from;
    if (from == 0) {
      // The whole file is in the window: its tags start after its header.
      if (auto header = ParseFileHeader(window)) {
        walkOptions.startOffset =
            std::min<int64_t>(int64_t{header->dataOffset} + kPrevSizeBytes, info.windowEnd);
      }
    }
    walkOptions.problemsPerKind = 4;
    walkOptions.maxIndexEntries = 16;
    const Facts facts = WalkAll(bytes, walkOptions);
    info.found = facts.file.tags > 0;
    info.lastTagOffset = facts.damage.lastTagOffset;
    info.lastAudioMs = facts.streams.audio.lastMs;
    info.lastVideoMs = facts.streams.video.lastMs;
    if (info.reachesFileEnd) {
      info.lastTagCut = facts.damage.lastTagCut;
      info.cutTagOffset = facts.damage.cutTagOffset;
      info.cutTagMs = facts.damage.cutTagMs;
      info.trailingBytes = facts.damage.trailingBytes;
    }
  }
  info.endMs = std::max(info.lastAudioMs, info.lastVideoMs);
  return info;
}

Facts QuickLook(const ByteSource& source, int64_t headBytes, const TailOptions& tailOptions) {
  Walker walker(source);
  WalkBudget budget;
  budget.maxBytes = std::max<int64_t>(headBytes, 1);
  const WalkStatus status = walker.Walk(budget);
  Facts facts = walker.Snapshot();
  if (status != WalkStatus::kBudgetSpent || !facts.file.isFlv) return facts;
  const TailInfo tail = ReadTail(source, tailOptions);
  facts.file.coverage = Coverage::kQuick;
  facts.file.size = tail.fileSize;
  auto extend = [](StreamFacts& stream, int64_t lastMs) {
    if (lastMs < 0 || stream.frames == 0) return;
    stream.lastMs = lastMs;
    stream.maxMs = std::max(stream.maxMs, lastMs);
  };
  extend(facts.streams.audio, tail.lastAudioMs);
  extend(facts.streams.video, tail.lastVideoMs);
  facts.damage.lastTagCut = tail.lastTagCut;
  facts.damage.cutTagOffset = tail.cutTagOffset;
  facts.damage.cutTagMs = tail.cutTagMs;
  facts.damage.trailingBytes = tail.trailingBytes;
  UpdateTimeline(facts);
  return facts;
}

}  // namespace flv_reader
