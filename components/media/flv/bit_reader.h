#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "media/flv/codec_formats.h"

// What the codec header readers share: a bit reader for the codecs' own
// syntax, the bounds every picture size must keep, and the removal of
// emulation prevention bytes from H.264 and HEVC NAL units.
namespace flv_reader::bits {

// Reads bits most significant first; reading past the end sets a flag and
// yields zeros, so a parser checks once at the end rather than at every read.
class BitReader {
 public:
  explicit BitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint32_t Bits(int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
      if (bit_ >= bytes_.size() * 8) {
        overrun_ = true;
        return 0;
      }
      value = value << 1 | ((bytes_[bit_ / 8] >> (7 - bit_ % 8)) & 1);
      ++bit_;
    }
    return value;
  }
  void Skip(size_t n) {
    if (n > bytes_.size() * 8 - std::min(bit_, bytes_.size() * 8)) overrun_ = true;
    bit_ = std::min(bit_ + n, bytes_.size() * 8);
  }
  // Exp-Golomb; more than 31 leading zeros is no valid code.
  uint32_t Ue() {
    int zeros = 0;
    while (Bits(1) == 0) {
      if (overrun_ || ++zeros > 31) {
        overrun_ = true;
        return 0;
      }
    }
    if (zeros == 0) return 0;
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + Bits(zeros));
  }
  int32_t Se() {
    const uint32_t k = Ue();
    return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
  }
  bool overrun() const { return overrun_; }

 private:
  std::span<const uint8_t> bytes_;
  size_t bit_ = 0;
  bool overrun_ = false;
};

// No codec this reader meets makes pictures larger than this.
inline constexpr int64_t kLargestSide = 16384;

inline std::optional<PictureSize> Sane(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide) {
    return std::nullopt;
  }
  return PictureSize{static_cast<int>(width), static_cast<int>(height)};
}

// The RBSP of a NAL unit after its `headerBytes`, emulation prevention
// bytes removed, at most `limit` bytes: the fields read are all near the
// start.
inline std::vector<uint8_t> Rbsp(std::span<const uint8_t> nal, size_t headerBytes,
                                 size_t limit = 512) {
  std::vector<uint8_t> rbsp;
  rbsp.reserve(std::min(nal.size(), limit));
  int zeros = 0;
  for (size_t i = headerBytes; i < nal.size() && rbsp.size() < limit; ++i) {
    if (zeros >= 2 && nal[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = nal[i] == 0 ? zeros + 1 : 0;
    rbsp.push_back(nal[i]);
  }
  return rbsp;
}

}  // namespace flv_reader::bits
