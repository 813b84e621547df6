#pragma once

// Codec configuration records and key frame headers built bit by bit, with
// chosen picture sizes, profiles and bit depths: HEVC's SPS and hvcC, AV1's
// sequence header OBU and av1C, VP9's vpcC and key frame header, Opus's
// OpusHead and FLAC's STREAMINFO. For tests that need a stream's
// configuration without an encoder. Standard C++ only.

#include <cstdint>
#include <string>
#include <vector>

#include "support/flv_writer.h"

namespace flvwrite {

// Bits most significant first, with exp-Golomb codes (H.264, HEVC).
class BitWriter {
 public:
  BitWriter& Bits(uint64_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (bit_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bit_ % 8));
      ++bit_;
    }
    return *this;
  }
  BitWriter& Ue(uint32_t value) {
    const uint64_t v = uint64_t{value} + 1;
    int length = 0;
    while ((v >> length) > 1) ++length;
    Bits(0, length);
    return Bits(v, length + 1);
  }
  BitWriter& Se(int32_t value) {
    return Ue(value > 0 ? static_cast<uint32_t>(2 * value - 1) : static_cast<uint32_t>(-2 * value));
  }
  // Zero bits up to the next byte.
  Bytes Align() {
    while (bit_ % 8) Bits(0, 1);
    return bytes_;
  }
  // The RBSP stop bit and padding.
  Bytes Finish() {
    Bits(1, 1);
    return Align();
  }

 private:
  Bytes bytes_;
  size_t bit_ = 0;
};

// A NAL unit from its header bytes and RBSP: emulation prevention inserted.
inline Bytes NalUnit(const Bytes& header, const Bytes& rbsp) {
  Bytes out = header;
  int zeros = 0;
  for (const uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

struct HevcShape {
  int width = 1920, height = 1080;  // the picture, after the conformance window
  int profile = 1, level = 123, bitDepth = 8, chroma = 1;
  int subLayers = 1;  // sps_max_sub_layers_minus1 + 1
};

// An HEVC SPS for the shape: coded in 8x8 units, cropped by a conformance
// window to the picture size.
inline Bytes HevcSps(const HevcShape& s) {
  const int codedW = (s.width + 7) / 8 * 8, codedH = (s.height + 7) / 8 * 8;
  BitWriter w;
  w.Bits(0, 4).Bits(static_cast<uint64_t>(s.subLayers - 1), 3).Bits(1, 1);
  // profile_tier_level: general part, then the sub-layers' (absent) parts.
  w.Bits(0, 2).Bits(0, 1).Bits(static_cast<uint64_t>(s.profile), 5);
  w.Bits(0x60000000, 32)
      .Bits(0xb, 4)
      .Bits(0, 43)
      .Bits(0, 1)
      .Bits(static_cast<uint64_t>(s.level), 8);
  for (int i = 0; i < s.subLayers - 1; ++i) w.Bits(0, 2);
  if (s.subLayers > 1) w.Bits(0, 2 * (9 - s.subLayers));
  w.Ue(0).Ue(static_cast<uint32_t>(s.chroma));
  if (s.chroma == 3) w.Bits(0, 1);
  w.Ue(static_cast<uint32_t>(codedW)).Ue(static_cast<uint32_t>(codedH));
  const int unitX = s.chroma == 1 || s.chroma == 2 ? 2 : 1, unitY = s.chroma == 1 ? 2 : 1;
  if (codedW != s.width || codedH != s.height) {
    w.Bits(1, 1).Ue(0).Ue(static_cast<uint32_t>((codedW - s.width) / unitX)).Ue(0);
    w.Ue(static_cast<uint32_t>((codedH - s.height) / unitY));
  } else {
    w.Bits(0, 1);
  }
  w.Ue(static_cast<uint32_t>(s.bitDepth - 8)).Ue(static_cast<uint32_t>(s.bitDepth - 8));
  w.Ue(4);  // log2_max_pic_order_cnt_lsb_minus4; the rest is not read
  return NalUnit({0x42, 0x01}, w.Finish());
}

// An hvcC record with a VPS, the SPS and a PPS.
inline Bytes HevcRecord(const HevcShape& s, int lengthSizeMinusOne = 3) {
  Bytes out{1, static_cast<uint8_t>(s.profile), 0x60, 0, 0, 0, 0xb0, 0, 0, 0, 0, 0};
  Put8(out, static_cast<uint32_t>(s.level));
  Put16(out, 0xf000);
  Put8(out, 0xfc);
  Put8(out, 0xfc | static_cast<uint32_t>(s.chroma));
  Put8(out, 0xf8 | static_cast<uint32_t>(s.bitDepth - 8));
  Put8(out, 0xf8 | static_cast<uint32_t>(s.bitDepth - 8));
  Put16(out, 0);
  Put8(out, 0x0c | static_cast<uint32_t>(lengthSizeMinusOne));
  const Bytes vps{0x40, 0x01, 0x0c, 0x01, 0xff, 0xff};
  const Bytes sps = HevcSps(s);
  const Bytes pps{0x44, 0x01, 0xc1, 0x72, 0xb4, 0x62, 0x40};
  Put8(out, 3);
  for (const auto& [type, nal] : {std::pair{32, vps}, std::pair{33, sps}, std::pair{34, pps}}) {
    Put8(out, 0x80 | static_cast<uint32_t>(type));
    Put16(out, 1);
    Put16(out, static_cast<uint32_t>(nal.size()));
    Append(out, nal);
  }
  return out;
}

struct Av1Shape {
  int width = 1920, height = 1080;
  int profile = 0, level = 8, bitDepth = 8;
  bool timingInfo = false;  // a sequence header with timing and decoder model info
};

// A sequence header OBU (with its size field) for the shape.
inline Bytes Av1SequenceHeader(const Av1Shape& s) {
  BitWriter w;
  w.Bits(static_cast<uint64_t>(s.profile), 3).Bits(0, 1).Bits(0, 1);
  w.Bits(s.timingInfo, 1);
  if (s.timingInfo) {
    w.Bits(1001, 32).Bits(60000, 32).Bits(1, 1).Bits(1, 1);     // uvlc(0)
    w.Bits(1, 1).Bits(4, 5).Bits(1, 32).Bits(9, 5).Bits(9, 5);  // decoder model info
  }
  w.Bits(0, 1).Bits(0, 5);  // no initial display delay; one operating point
  w.Bits(0, 12).Bits(static_cast<uint64_t>(s.level), 5);
  if (s.level > 7) w.Bits(0, 1);
  if (s.timingInfo) w.Bits(1, 1).Bits(100, 5).Bits(200, 5).Bits(0, 1);
  w.Bits(15, 4).Bits(15, 4);
  w.Bits(static_cast<uint64_t>(s.width - 1), 16).Bits(static_cast<uint64_t>(s.height - 1), 16);
  w.Bits(0, 7);  // some of the flags that follow; never read
  const Bytes payload = w.Finish();
  Bytes out{0x0a};  // sequence header, with a size field
  Put8(out, static_cast<uint32_t>(payload.size()));
  Append(out, payload);
  return out;
}

inline Bytes Av1Record(const Av1Shape& s) {
  const bool high = s.bitDepth > 8, twelve = s.bitDepth == 12;
  Bytes out{0x81, static_cast<uint8_t>(s.profile << 5 | s.level),
            static_cast<uint8_t>(high << 6 | twelve << 5 | 0x0c), 0};
  Append(out, Av1SequenceHeader(s));
  return out;
}

// vpcC as FFmpeg writes it after the box type: version 1, flags, then the
// fields.
inline Bytes VpcRecord(int profile, int level, int bitDepth, int subsampling = 1) {
  return {1,
          0,
          0,
          0,
          static_cast<uint8_t>(profile),
          static_cast<uint8_t>(level),
          static_cast<uint8_t>(bitDepth << 4 | subsampling << 1),
          1,
          1,
          1,
          0,
          0};
}

// The first bytes of a VP9 key frame: its uncompressed header up to the size.
inline Bytes Vp9KeyFrame(int width, int height, int profile = 0, int bitDepth = 8) {
  BitWriter w;
  w.Bits(2, 2)
      .Bits(static_cast<uint64_t>(profile & 1), 1)
      .Bits(static_cast<uint64_t>(profile >> 1), 1);
  if (profile == 3) w.Bits(0, 1);
  w.Bits(0, 1).Bits(0, 1).Bits(1, 1).Bits(0, 1).Bits(0x498342, 24);
  if (profile >= 2) w.Bits(bitDepth == 12, 1);
  w.Bits(1, 3).Bits(0, 1);                                               // BT.601, limited range
  if (profile == 1 || profile == 3) w.Bits(1, 1).Bits(0, 1).Bits(0, 1);  // 4:2:2
  w.Bits(static_cast<uint64_t>(width - 1), 16).Bits(static_cast<uint64_t>(height - 1), 16);
  Bytes out = w.Align();
  out.resize(out.size() + 16, 0);
  return out;
}

inline Bytes OpusHead(int channels, int inputRate = 48000, int preSkip = 312) {
  Bytes out{'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, static_cast<uint8_t>(channels)};
  Put8(out, static_cast<uint32_t>(preSkip) & 0xff);
  Put8(out, static_cast<uint32_t>(preSkip) >> 8);
  for (int i = 0; i < 4; ++i) Put8(out, static_cast<uint32_t>(inputRate) >> (8 * i));
  Put16(out, 0);  // gain
  Put8(out, channels > 2 ? 1 : 0);
  if (channels > 2) {
    Put8(out, static_cast<uint32_t>(channels));
    Put8(out, 0);
    for (int i = 0; i < channels; ++i) Put8(out, static_cast<uint32_t>(i));
  }
  return out;
}

// "fLaC", then STREAMINFO as the last metadata block.
inline Bytes FlacRecord(int rate, int channels, int bitsPerSample, int block = 4096) {
  Bytes out{'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
  BitWriter w;
  w.Bits(static_cast<uint64_t>(block), 16)
      .Bits(static_cast<uint64_t>(block), 16)
      .Bits(0, 24)
      .Bits(0, 24);
  w.Bits(static_cast<uint64_t>(rate), 20).Bits(static_cast<uint64_t>(channels - 1), 3);
  w.Bits(static_cast<uint64_t>(bitsPerSample - 1), 5).Bits(0, 36);
  Append(out, w.Align());
  out.resize(out.size() + 16, 0);  // MD5
  return out;
}

}  // namespace flvwrite
