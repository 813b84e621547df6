#include "media/flv/codec_headers.h"

#include <algorithm>
#include <vector>

#include "media/flv/bit_reader.h"

namespace flv_reader {
namespace {

using bits::BitReader;
using bits::Sane;

void SkipScalingList(BitReader& bits, int size) {
  int last = 8, next = 8;
  for (int j = 0; j < size && !bits.overrun(); ++j) {
    // A valid delta is -128..127; a damaged one may be near 2^31 and must
    // not overflow on its way to the same modulo.
    if (next != 0) next = static_cast<int>(((int64_t{last} + bits.Se()) % 256 + 256) % 256);
    last = next == 0 ? last : next;
  }
}

}  // namespace

std::optional<PictureSize> H263PictureSize(std::span<const uint8_t> frame) {
  BitReader bits(frame);
  if (bits.Bits(17) != 1) return std::nullopt;
  if (bits.Bits(5) > 1) return std::nullopt;  // version 0 or 1
  bits.Bits(8);                               // temporal reference
  int width = 0, height = 0;
  switch (bits.Bits(3)) {
    case 0:
      width = bits.Bits(8);
      height = bits.Bits(8);
      break;
    case 1:
      width = bits.Bits(16);
      height = bits.Bits(16);
      break;
    case 2:
      width = 352, height = 288;
      break;
    case 3:
      width = 176, height = 144;
      break;
    case 4:
      width = 128, height = 96;
      break;
    case 5:
      width = 320, height = 240;
      break;
    case 6:
      width = 160, height = 120;
      break;
    default:
      return std::nullopt;
  }
  if (bits.overrun()) return std::nullopt;
  return Sane(width, height);
}

std::optional<PictureSize> Vp6PictureSize(std::span<const uint8_t> body, bool withAlpha) {
  const size_t frameAt = withAlpha ? 4 : 1;
  if (body.size() < frameAt + 2) return std::nullopt;
  const int cropX = body[0] >> 4, cropY = body[0] & 0x0f;
  const std::span<const uint8_t> frame = body.subspan(frameAt);
  if (frame[0] & 0x80) return std::nullopt;  // only key frames carry the size
  const bool separatedCoefficients = frame[0] & 0x01;
  if ((frame[1] >> 3) > 8) return std::nullopt;  // sub-version
  const bool filterHeader = frame[1] & 0x06;
  const size_t sizesAt = (separatedCoefficients || !filterHeader) ? 4 : 2;
  if (frame.size() < sizesAt + 2) return std::nullopt;
  const int rows = frame[sizesAt], columns = frame[sizesAt + 1];
  if (rows == 0 || columns == 0) return std::nullopt;
  return Sane(columns * 16 - cropX, rows * 16 - cropY);
}

std::optional<PictureSize> ScreenVideoPictureSize(std::span<const uint8_t> frame) {
  if (frame.size() < 4) return std::nullopt;
  return Sane((frame[0] & 0x0f) << 8 | frame[1], (frame[2] & 0x0f) << 8 | frame[3]);
}

std::optional<VideoFormat> H264SpsFormat(std::span<const uint8_t> nal) {
  if (nal.size() < 4 || (nal[0] & 0x1f) != 7) return std::nullopt;
  // The SPS is short; more than this is not an SPS worth reading.
  const std::vector<uint8_t> rbsp = bits::Rbsp(nal, 1, 512);
  BitReader bits(rbsp);
  const uint32_t profile = bits.Bits(8);
  bits.Bits(8);  // constraint flags
  const uint32_t level = bits.Bits(8);
  uint32_t bitDepth = 8;
  bits.Ue();  // seq_parameter_set_id
  uint32_t chromaFormat = 1;
  bool separateColourPlanes = false;
  switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
      chromaFormat = bits.Ue();
      if (chromaFormat > 3) return std::nullopt;
      if (chromaFormat == 3) separateColourPlanes = bits.Bits(1);
      bitDepth = bits.Ue() + 8;
      bits.Ue();     // bit depth chroma
      bits.Bits(1);  // transform bypass
      if (bits.Bits(1)) {
        const int lists = chromaFormat == 3 ? 12 : 8;
        for (int i = 0; i < lists && !bits.overrun(); ++i) {
          if (bits.Bits(1)) SkipScalingList(bits, i < 6 ? 16 : 64);
        }
      }
      break;
    default:
      break;
  }
  bits.Ue();  // log2_max_frame_num
  const uint32_t pocType = bits.Ue();
  if (pocType == 0) {
    bits.Ue();
  } else if (pocType == 1) {
    bits.Bits(1);
    bits.Se();
    bits.Se();
    const uint32_t cycle = bits.Ue();
    if (cycle > 255) return std::nullopt;
    for (uint32_t i = 0; i < cycle && !bits.overrun(); ++i) bits.Se();
  } else if (pocType > 2) {
    return std::nullopt;
  }
  bits.Ue();     // max_num_ref_frames
  bits.Bits(1);  // gaps_in_frame_num_allowed
  const uint64_t widthMbs = uint64_t{bits.Ue()} + 1;
  const uint64_t heightUnits = uint64_t{bits.Ue()} + 1;
  const bool frameMbsOnly = bits.Bits(1);
  if (!frameMbsOnly) bits.Bits(1);  // mb_adaptive_frame_field
  bits.Bits(1);                     // direct_8x8_inference
  uint64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  if (bits.Bits(1)) {
    cropLeft = bits.Ue();
    cropRight = bits.Ue();
    cropTop = bits.Ue();
    cropBottom = bits.Ue();
  }
  if (bits.overrun() || widthMbs > 1024 || heightUnits > 1024) return std::nullopt;
  const uint64_t frameHeightFactor = frameMbsOnly ? 1 : 2;
  uint64_t cropUnitX = 1, cropUnitY = frameHeightFactor;
  if (chromaFormat != 0 && !separateColourPlanes) {
    cropUnitX = chromaFormat == 3 ? 1 : 2;
    cropUnitY = (chromaFormat == 1 ? 2 : 1) * frameHeightFactor;
  }
  const int64_t width = static_cast<int64_t>(widthMbs * 16) -
                        static_cast<int64_t>(cropUnitX * (cropLeft + cropRight));
  const int64_t height = static_cast<int64_t>(heightUnits * 16 * frameHeightFactor) -
                         static_cast<int64_t>(cropUnitY * (cropTop + cropBottom));
  const auto size = Sane(width, height);
  if (!size || bitDepth > 14) return std::nullopt;
  VideoFormat format;
  format.size = *size;
  format.profile = static_cast<int>(profile);
  format.level = static_cast<int>(level);
  format.bitDepth = static_cast<int>(bitDepth);
  format.chromaFormat = static_cast<int>(chromaFormat);
  return format;
}

std::optional<PictureSize> H264SpsPictureSize(std::span<const uint8_t> nal) {
  const auto format = H264SpsFormat(nal);
  if (!format) return std::nullopt;
  return format->size;
}

std::optional<VideoFormat> AvcConfigFormat(std::span<const uint8_t> record) {
  if (record.size() < 8 || record[0] != 1) return std::nullopt;
  const int spsCount = record[5] & 0x1f;
  size_t at = 6;
  for (int i = 0; i < spsCount && at + 2 <= record.size(); ++i) {
    const size_t length = size_t{record[at]} << 8 | record[at + 1];
    at += 2;
    if (length > record.size() - at) return std::nullopt;
    if (auto format = H264SpsFormat(record.subspan(at, length))) return format;
    at += length;
  }
  return std::nullopt;
}

std::optional<PictureSize> AvcConfigPictureSize(std::span<const uint8_t> record) {
  const auto format = AvcConfigFormat(record);
  if (!format) return std::nullopt;
  return format->size;
}

std::optional<SoundFormat> AacConfigFormat(std::span<const uint8_t> config) {
  static constexpr int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};
  BitReader bits(config);
  size_t used = 0;  // bits read, for what is left
  const auto take = [&](int n) {
    used += static_cast<size_t>(n);
    return bits.Bits(n);
  };
  const auto objectTypeOf = [&] {
    const uint32_t type = take(5);
    return type == 31 ? 32 + take(6) : type;
  };
  const auto rateOf = [&]() -> int {
    const uint32_t index = take(4);
    if (index == 15) return static_cast<int>(take(24));
    return index < 13 ? kRates[index] : 0;
  };
  uint32_t objectType = objectTypeOf();
  const int rate = rateOf();
  const uint32_t channelConfig = take(4);
  if (bits.overrun() || objectType == 0 || rate <= 0 || rate > 192000) return std::nullopt;
  // Configuration 7 is 7.1; 0 means the channels are described elsewhere.
  const int channels = channelConfig == 7 ? 8 : static_cast<int>(channelConfig);
  // SBR (HE-AAC) puts out twice the core's rate, or the rate it names: said
  // first (object type 5 or 29, the output rate, then the core's type), or
  // after the core's configuration in a sync extension (0x2b7) that decoders
  // unaware of SBR skip. Without either, only the frames can tell.
  int outRate = rate;
  int samples = (objectType == 23 || objectType == 39) ? 480 : 1024;
  if (objectType == 5 || objectType == 29) {
    const int extension = rateOf();
    objectType = objectTypeOf();
    outRate = extension > 0 && extension <= 192000 ? extension : 2 * rate;
  } else if (objectType >= 1 && objectType <= 4 && channelConfig != 0) {
    // GASpecificConfig of the AAC types: frame length, core coder delay,
    // extension flag (0 for these types).
    if (take(1)) samples = 960;
    if (take(1)) take(14);
    take(1);
    if (!bits.overrun() && config.size() * 8 >= used + 16 && take(11) == 0x2b7 &&
        objectTypeOf() == 5 && take(1) == 1) {
      const int extension = rateOf();
      if (extension > 0 && extension <= 192000) outRate = extension;
    }
  }
  if (bits.overrun()) outRate = rate;
  const int outSamples = static_cast<int>(int64_t{samples} * outRate / rate);
  return SoundFormat{outRate, channels, outSamples};
}

std::optional<SoundFormat> MpegAudioFormat(std::span<const uint8_t> frame) {
  if (frame.size() < 4 || frame[0] != 0xff || (frame[1] & 0xe0) != 0xe0) return std::nullopt;
  const int version = (frame[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
  const int layer = (frame[1] >> 1) & 3;    // 1: III, 2: II, 3: I
  const int rateIndex = (frame[2] >> 2) & 3;
  if (version == 1 || layer == 0 || rateIndex == 3 || (frame[2] >> 4) == 15) {
    return std::nullopt;
  }
  static constexpr int kRates[3] = {44100, 48000, 32000};
  const int rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  const int channels = (frame[3] >> 6) == 3 ? 1 : 2;
  const int samples = layer == 3 ? 384 : (layer == 1 && version != 3) ? 576 : 1152;
  return SoundFormat{rate, channels, samples};
}

}  // namespace flv_reader
