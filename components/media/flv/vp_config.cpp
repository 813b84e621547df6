#include "media/flv/bit_reader.h"
#include "media/flv/video_configs.h"

namespace flv_reader {
namespace {

constexpr int kColourSpaceRgb = 7;

int ChromaFromVpcC(int subsampling) {
  // 0 and 1: 4:2:0 (vertical, colocated), 2: 4:2:2, 3: 4:4:4.
  return subsampling <= 1 ? 1 : subsampling == 2 ? 2 : subsampling == 3 ? 3 : -1;
}

}  // namespace

std::optional<VideoFormat> ParseVpConfig(std::span<const uint8_t> record) {
  // Version 1 and flags 0, then 8 bytes and the initialisation data's size.
  if (record.size() < 12 || record[0] != 1 || record[1] || record[2] || record[3]) {
    return std::nullopt;
  }
  VideoFormat format;
  format.profile = record[4];
  format.level = record[5];
  format.bitDepth = record[6] >> 4;
  format.chromaFormat = ChromaFromVpcC((record[6] >> 1) & 0x07);
  if (format.profile > 3 || format.chromaFormat < 0 ||
      (format.bitDepth != 8 && format.bitDepth != 10 && format.bitDepth != 12)) {
    return std::nullopt;
  }
  return format;
}

std::optional<VideoFormat> Vp9FrameFormat(std::span<const uint8_t> frame) {
  bits::BitReader bits(frame);
  if (bits.Bits(2) != 2) return std::nullopt;  // frame marker
  const uint32_t low = bits.Bits(1);
  const int profile = static_cast<int>(bits.Bits(1) << 1 | low);
  if (profile == 3 && bits.Bits(1)) return std::nullopt;
  if (bits.Bits(1)) return std::nullopt;               // shows an existing frame
  if (bits.Bits(1) != 0) return std::nullopt;          // not a key frame
  bits.Skip(2);                                        // show_frame, error_resilient_mode
  if (bits.Bits(24) != 0x498342) return std::nullopt;  // sync code
  VideoFormat format;
  format.profile = profile;
  format.bitDepth = profile >= 2 ? (bits.Bits(1) ? 12 : 10) : 8;
  bool subX = true, subY = true;
  if (bits.Bits(3) != kColourSpaceRgb) {
    bits.Skip(1);  // colour range
    if (profile == 1 || profile == 3) {
      subX = bits.Bits(1);
      subY = bits.Bits(1);
      bits.Skip(1);
    }
  } else {
    if (profile == 0 || profile == 2) return std::nullopt;  // RGB needs 4:4:4
    subX = subY = false;
    bits.Skip(1);
  }
  format.chromaFormat = (subX && subY) ? 1 : subX ? 2 : 3;
  const int64_t width = int64_t{bits.Bits(16)} + 1;
  const int64_t height = int64_t{bits.Bits(16)} + 1;
  if (bits.overrun()) return std::nullopt;
  const auto size = bits::Sane(width, height);
  if (!size) return std::nullopt;
  format.size = *size;
  return format;
}

std::optional<PictureSize> Vp8FramePictureSize(std::span<const uint8_t> frame) {
  // A key frame: bit 0 of its tag clear, then the start code and the sizes
  // (14 bits each, little-endian, under 2 bits of scaling).
  if (frame.size() < 10 || (frame[0] & 0x01) || frame[3] != 0x9d || frame[4] != 0x01 ||
      frame[5] != 0x2a) {
    return std::nullopt;
  }
  return bits::Sane((frame[6] | frame[7] << 8) & 0x3fff, (frame[8] | frame[9] << 8) & 0x3fff);
}

}  // namespace flv_reader
