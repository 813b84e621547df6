// libFuzzer entry for the FLV reader. Each input is read every way the
// player reads a file (whole, in slices, as a recording that grows, by its
// tail alone), and the parsers under the walk get the raw bytes too: the tag
// body reader of both dialects and the configuration records of today's
// codecs. Besides crashes, hangs and huge allocations, it stops on a walk in
// slices or in steps that disagrees with a walk in one go, and on a tag body
// reading or a record that breaks its bounds.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "media/flv/amf.h"
#include "media/flv/audio_configs.h"
#include "media/flv/codec_headers.h"
#include "media/flv/media_tag.h"
#include "media/flv/report.h"
#include "media/flv/tail.h"
#include "media/flv/video_configs.h"
#include "media/flv/walker.h"

namespace {

using namespace flv_reader;

// The bytes of the input up to a size that the test chooses.
class Prefix final : public ByteSource {
 public:
  explicit Prefix(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  void Show(size_t n) { shown_ = n < bytes_.size() ? n : bytes_.size(); }
  int64_t Size() const override { return static_cast<int64_t>(shown_); }
  int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const override {
    if (offset < 0 || length < 0) return -1;
    if (offset >= static_cast<int64_t>(shown_)) return 0;
    const size_t n = std::min(static_cast<size_t>(length), shown_ - static_cast<size_t>(offset));
    std::memcpy(buffer, bytes_.data() + offset, n);
    return static_cast<int64_t>(n);
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t shown_ = 0;
};

std::string Digest(const Facts& f) {
  std::string d = Report(f);
  for (const Problem& p : f.problems.Kept()) {
    d += std::to_string(p.offset) + " " + std::to_string(p.timeMs) + " " + p.text + "\n";
  }
  for (const IndexEntry& e : f.index.entries) d += std::to_string(e.offset) + ",";
  return d + std::to_string(f.damage.bytesSkipped) + " " + std::to_string(f.damage.lastTagOffset);
}

void Agree(const std::string& a, const std::string& b) {
  if (a != b) std::abort();
}

// A body handed over a few bytes at a time, as the walk hands it.
class Trickle final : public BodyBytes {
 public:
  explicit Trickle(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  std::span<const uint8_t> Get(size_t offset, size_t n) const override {
    if (offset >= bytes_.size()) return {};
    return bytes_.subspan(offset, std::min(n, bytes_.size() - offset));
  }

 private:
  std::span<const uint8_t> bytes_;
};

// The tag body reader's promises, for a body read both ways.
void CheckMediaTag(uint8_t type, std::span<const uint8_t> body) {
  const MediaTag tag = ParseMediaTag(type, body);
  const MediaTag fetched = ParseMediaTag(type, body.size(), Trickle(body));
  if (tag.count > kMaxPacketsPerTag || tag.count != fetched.count) std::abort();
  for (size_t i = 0; i < tag.count; ++i) {
    const MediaPacket& p = tag.packets[i];
    if (p.payloadOffset > body.size() || p.payloadSize > body.size() - p.payloadOffset ||
        p.timestampOffsetNs < 0 || p.timestampOffsetNs >= 1000000 ||
        p.payloadOffset != fetched.packets[i].payloadOffset || p.kind != fetched.packets[i].kind) {
      std::abort();
    }
  }
}

void CheckSize(const PictureSize& s) {
  if (s.width < 0 || s.height < 0 || s.width > 16384 || s.height > 16384) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  MemorySource whole{bytes};
  WalkOptions options;
  options.readAheadBytes = 4096;  // more buffer refills on small inputs
  const Facts once = WalkAll(whole, options);
  const std::string expected = Digest(once);
  ChooseLength(once);
  // A patch is a script tag's own type byte, turned into type 19.
  for (const HiddenTag& h : ScriptTagsToHide(once)) {
    if (h.patchOffset != h.tagOffset || h.patchOffset < 0 ||
        h.patchOffset >= static_cast<int64_t>(size) ||
        data[static_cast<size_t>(h.patchOffset)] != h.original || (h.original & 0x1f) != 18 ||
        h.replacement != ((h.original & 0xe0) | 19)) {
      std::abort();
    }
  }

  // In slices of a size taken from the input itself.
  Walker sliced(whole, options);
  WalkBudget budget;
  budget.maxTags = 1 + (size > 0 ? data[size - 1] % 8 : 0);
  budget.maxBytes = 1 + (size > 1 ? data[size - 2] * 64 : 0);
  while (sliced.Walk(budget) == WalkStatus::kBudgetSpent) {
  }
  Agree(Digest(sliced.Snapshot()), expected);

  // Growing: first a part, then the rest.
  Prefix prefix(bytes);
  Walker growing(prefix, options);
  prefix.Show(size > 2 ? size * data[0] / 255 : 0);
  growing.Walk();
  growing.Snapshot();
  prefix.Show(size);
  growing.Walk();
  Agree(Digest(growing.Snapshot()), expected);

  // By the tail, from the whole input and from its last part alone.
  TailOptions tail;
  tail.bytes = 256;
  ReadTail(whole, tail);
  const size_t from = size > 512 ? size - 512 : 0;
  MemorySource held(bytes.subspan(from), static_cast<int64_t>(from), static_cast<int64_t>(size));
  ReadTail(held, tail);
  QuickLook(whole, 1024, tail);

  // The parsers on their own.
  amf::ParseAmf0(bytes);
  amf::ParseAmf3(bytes);
  H263PictureSize(bytes);
  Vp6PictureSize(bytes, size > 0 && (data[0] & 1));
  H264SpsPictureSize(bytes);
  AvcConfigPictureSize(bytes);
  AacConfigFormat(bytes);
  MpegAudioFormat(bytes);
  CheckMediaTag(8, bytes);
  CheckMediaTag(9, bytes);
  if (const auto f = AvcConfigFormat(bytes)) CheckSize(f->size);
  if (const auto f = ParseHevcConfig(bytes)) CheckSize(f->format.size);
  if (const auto f = HevcSpsFormat(bytes)) CheckSize(f->size);
  if (const auto f = ParseAv1Config(bytes)) CheckSize(f->format.size);
  if (const auto f = Av1SequenceHeaderFormat(bytes)) CheckSize(f->size);
  if (const auto f = Vp9FrameFormat(bytes)) CheckSize(f->size);
  if (const auto f = Vp8FramePictureSize(bytes)) CheckSize(*f);
  ParseVpConfig(bytes);
  ParseOpusHead(bytes);
  ParseFlacConfig(bytes);
  ChannelConfigChannels(bytes);
  Ac3FrameFormat(bytes);
  return 0;
}
