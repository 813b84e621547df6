#include <vector>

#include "media/flv/bit_reader.h"
#include "media/flv/video_configs.h"

namespace flv_reader {
namespace {

using bits::BitReader;

constexpr int kSpsNalType = 33;
constexpr size_t kRecordHeaderBytes = 23;

// profile_tier_level() after its general part has been read or skipped:
// the sub-layers' flags and the parts they announce.
void SkipSubLayers(BitReader& bits, uint32_t maxSubLayersMinus1) {
  bool profilePresent[8] = {}, levelPresent[8] = {};
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    profilePresent[i] = bits.Bits(1);
    levelPresent[i] = bits.Bits(1);
  }
  if (maxSubLayersMinus1 > 0) bits.Skip(2 * (8 - maxSubLayersMinus1));
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    if (profilePresent[i]) bits.Skip(88);
    if (levelPresent[i]) bits.Skip(8);
  }
}

}  // namespace

std::optional<VideoFormat> HevcSpsFormat(std::span<const uint8_t> nal) {
  if (nal.size() < 4 || ((nal[0] >> 1) & 0x3f) != kSpsNalType) return std::nullopt;
  const std::vector<uint8_t> rbsp = bits::Rbsp(nal, 2, 256);
  BitReader bits(rbsp);
  bits.Skip(4);  // sps_video_parameter_set_id
  const uint32_t maxSubLayersMinus1 = bits.Bits(3);
  if (maxSubLayersMinus1 > 6) return std::nullopt;
  bits.Skip(1);  // temporal id nesting
  bits.Skip(3);  // general profile space and tier
  const uint32_t profile = bits.Bits(5);
  bits.Skip(32 + 4 + 43 + 1);  // compatibility flags, source flags, constraints
  const uint32_t level = bits.Bits(8);
  SkipSubLayers(bits, maxSubLayersMinus1);
  if (bits.Ue() > 15) return std::nullopt;  // sps_seq_parameter_set_id
  const uint32_t chroma = bits.Ue();
  if (chroma > 3) return std::nullopt;
  const bool separatePlanes = chroma == 3 && bits.Bits(1);
  const int64_t width = bits.Ue();
  const int64_t height = bits.Ue();
  int64_t left = 0, right = 0, top = 0, bottom = 0;
  if (bits.Bits(1)) {  // conformance window
    left = bits.Ue();
    right = bits.Ue();
    top = bits.Ue();
    bottom = bits.Ue();
  }
  const uint32_t bitDepth = bits.Ue() + 8;
  if (bits.overrun() || bitDepth > 16) return std::nullopt;
  // The window counts in chroma samples; without chroma planes of their own
  // (monochrome, separate planes) in luma samples.
  const bool chromaPlanes = chroma != 0 && !separatePlanes;
  const int64_t unitX = chromaPlanes && chroma != 3 ? 2 : 1;
  const int64_t unitY = chromaPlanes && chroma == 1 ? 2 : 1;
  const auto size = bits::Sane(width - unitX * (left + right), height - unitY * (top + bottom));
  if (!size) return std::nullopt;
  VideoFormat format;
  format.size = *size;
  format.profile = static_cast<int>(profile);
  format.level = static_cast<int>(level);
  format.bitDepth = static_cast<int>(bitDepth);
  format.chromaFormat = static_cast<int>(chroma);
  return format;
}

std::optional<HevcConfig> ParseHevcConfig(std::span<const uint8_t> record) {
  if (record.size() < kRecordHeaderBytes || record[0] != 1) return std::nullopt;
  HevcConfig config;
  config.highTier = record[1] & 0x20;
  config.format.profile = record[1] & 0x1f;
  config.format.level = record[12];
  config.format.chromaFormat = record[16] & 0x03;
  config.format.bitDepth = (record[17] & 0x07) + 8;
  const int lengthSizeMinusOne = record[21] & 0x03;
  if (lengthSizeMinusOne == 2) return std::nullopt;  // 3-byte lengths are no option
  config.lengthSize = lengthSizeMinusOne + 1;
  const int arrays = record[22];
  size_t at = kRecordHeaderBytes;
  for (int a = 0; a < arrays; ++a) {
    if (record.size() - at < 3) return std::nullopt;
    const int type = record[at] & 0x3f;
    const size_t count = size_t{record[at + 1]} << 8 | record[at + 2];
    at += 3;
    for (size_t n = 0; n < count; ++n) {
      if (record.size() - at < 2) return std::nullopt;
      const size_t length = size_t{record[at]} << 8 | record[at + 1];
      at += 2;
      if (length > record.size() - at) return std::nullopt;
      if (type == kSpsNalType && config.format.size.width == 0) {
        if (auto sps = HevcSpsFormat(record.subspan(at, length))) config.format.size = sps->size;
      }
      at += length;
    }
  }
  return config;
}

}  // namespace flv_reader
