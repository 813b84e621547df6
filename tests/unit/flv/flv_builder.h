#pragma once

// Makes FLV files byte by byte for the reader's tests: headers, tags of each
// kind with chosen timestamps, AMF0 script bodies, codec headers with known
// picture sizes, and the damage real files show (cut tags, garbage, zeros,
// wrong PreviousTagSize fields, glued recordings).

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "media/flv/byte_source.h"
#include "support/codec_records.h"

namespace flvtest {

using Bytes = std::vector<uint8_t>;

inline void PutU16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
inline void PutU24(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 16));
  PutU16(out, v);
}
inline void PutU32(Bytes& out, uint32_t v) {
  PutU16(out, v >> 16);
  PutU16(out, v);
}
inline void PutDouble(Bytes& out, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(bits >> (i * 8)));
}

using BitWriter = flvwrite::BitWriter;

// An H.264 NAL unit from its RBSP: emulation prevention bytes inserted.
inline Bytes Nal(uint8_t header, const Bytes& rbsp) {
  Bytes out{header};
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

// An AVCDecoderConfigurationRecord holding one SPS (and one PPS).
inline Bytes AvcConfig(const Bytes& sps) {
  Bytes out{1, sps.size() > 1 ? sps[1] : uint8_t{66}, 0, 30, 0xff, 0xe1};
  PutU16(out, static_cast<uint32_t>(sps.size()));
  out.insert(out.end(), sps.begin(), sps.end());
  out.push_back(1);
  PutU16(out, 4);
  for (const uint8_t b : {0x68, 0xce, 0x3c, 0x80}) out.push_back(static_cast<uint8_t>(b));
  return out;
}

// A baseline-profile SPS for a picture of width x height (multiples of 2).
inline Bytes BaselineSps(int width, int height) {
  const int mbsWide = (width + 15) / 16, mbsHigh = (height + 15) / 16;
  BitWriter w;
  w.Bits(66, 8).Bits(0xc0, 8).Bits(30, 8).Ue(0).Ue(0).Ue(0).Ue(0).Ue(1).Bits(0, 1);
  w.Ue(mbsWide - 1).Ue(mbsHigh - 1).Bits(1, 1).Bits(1, 1);
  const int cropRight = mbsWide * 16 - width, cropBottom = mbsHigh * 16 - height;
  if (cropRight || cropBottom) {
    w.Bits(1, 1).Ue(0).Ue(cropRight / 2).Ue(0).Ue(cropBottom / 2);
  } else {
    w.Bits(0, 1);
  }
  w.Bits(0, 1);  // no VUI
  return Nal(0x67, w.Finish());
}

// A Sorenson H.263 picture header for width x height (custom sizes in 8 or
// 16 bits, the standard ones by their code).
inline Bytes H263Picture(int width, int height, bool key = true) {
  BitWriter w;
  w.Bits(1, 17).Bits(0, 5).Bits(0, 8);
  struct Standard {
    int code, w, h;
  };
  static constexpr Standard kStandard[] = {
      {2, 352, 288}, {3, 176, 144}, {4, 128, 96}, {5, 320, 240}, {6, 160, 120}};
  int code = width < 256 && height < 256 ? 0 : 1;
  for (const Standard& s : kStandard) {
    if (s.w == width && s.h == height) code = s.code;
  }
  w.Bits(code, 3);
  if (code == 0) w.Bits(width, 8).Bits(height, 8);
  if (code == 1) w.Bits(width, 16).Bits(height, 16);
  w.Bits(key ? 0 : 1, 2);  // picture type
  return w.Finish();
}

// AMF0 values.
class Amf0 {
 public:
  Amf0& Number(double d) {
    out_.push_back(0x00);
    PutDouble(out_, d);
    return *this;
  }
  Amf0& Bool(bool b) {
    out_.push_back(0x01);
    out_.push_back(b);
    return *this;
  }
  Amf0& String(const std::string& s) {
    out_.push_back(0x02);
    return Key(s);
  }
  // A member name inside an object (no type marker).
  Amf0& Key(const std::string& s) {
    PutU16(out_, static_cast<uint32_t>(s.size()));
    out_.insert(out_.end(), s.begin(), s.end());
    return *this;
  }
  Amf0& Object() { return Marker(0x03); }
  Amf0& Ecma(uint32_t count) {
    Marker(0x08);
    PutU32(out_, count);
    return *this;
  }
  Amf0& Strict(uint32_t count) {
    Marker(0x0a);
    PutU32(out_, count);
    return *this;
  }
  Amf0& End() {
    PutU16(out_, 0);
    return Marker(0x09);
  }
  Amf0& Null() { return Marker(0x05); }
  Amf0& Marker(uint8_t m) {
    out_.push_back(m);
    return *this;
  }
  Amf0& Raw(const Bytes& b) {
    out_.insert(out_.end(), b.begin(), b.end());
    return *this;
  }
  const Bytes& bytes() const { return out_; }

 private:
  Bytes out_;
};

// onMetaData with the numbers given, as an ECMA array.
inline Bytes MetaData(const std::vector<std::pair<std::string, double>>& numbers) {
  Amf0 a;
  a.String("onMetaData").Ecma(static_cast<uint32_t>(numbers.size()));
  for (const auto& [key, value] : numbers) a.Key(key).Number(value);
  a.End();
  return a.bytes();
}

class Builder {
 public:
  explicit Builder(uint8_t flags = 0x05, uint32_t dataOffset = 9) {
    for (const char c : {'F', 'L', 'V'}) bytes_.push_back(static_cast<uint8_t>(c));
    bytes_.push_back(1);
    bytes_.push_back(flags);
    PutU32(bytes_, dataOffset);
    bytes_.resize(std::max<size_t>(dataOffset, 9), 0);
    PutU32(bytes_, 0);
  }

  // Added to every PreviousTagSize written from now on.
  Builder& PrevSizeError(int error) {
    prevError_ = error;
    return *this;
  }

  // Returns the offset of the tag.
  size_t Tag(uint8_t type, uint32_t ms, const Bytes& body) {
    const size_t at = bytes_.size();
    bytes_.push_back(type);
    PutU24(bytes_, static_cast<uint32_t>(body.size()));
    PutU24(bytes_, ms & 0xffffff);
    bytes_.push_back(static_cast<uint8_t>(ms >> 24));
    PutU24(bytes_, 0);
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    PutU32(bytes_, static_cast<uint32_t>(static_cast<int64_t>(body.size()) + 11 + prevError_));
    return at;
  }
  // MP3 at 44.1 kHz stereo: a real frame header after the flags byte.
  size_t Mp3(uint32_t ms, size_t size = 200) {
    Bytes body{0x2f, 0xff, 0xfb, 0x90, 0x64};
    body.resize(std::max<size_t>(size, body.size()), 0x55);
    return Tag(8, ms, body);
  }
  size_t AacConfig(uint32_t ms, Bytes config = {0x12, 0x10}) {
    Bytes body{0xaf, 0};
    body.insert(body.end(), config.begin(), config.end());
    return Tag(8, ms, body);
  }
  size_t Aac(uint32_t ms, size_t size = 200) {
    Bytes body{0xaf, 1};
    body.resize(std::max<size_t>(size, 2), 0x21);
    return Tag(8, ms, body);
  }
  // Sorenson H.263 frames of a given picture size.
  size_t H263(uint32_t ms, bool key, int width = 320, int height = 240, size_t size = 500) {
    Bytes body{static_cast<uint8_t>(key ? 0x12 : 0x22)};
    const Bytes picture = H263Picture(width, height, key);
    body.insert(body.end(), picture.begin(), picture.end());
    body.resize(std::max(size, body.size()), 0x33);
    return Tag(9, ms, body);
  }
  // A VP6 key frame (or inter frame) of cols x rows macroblocks.
  size_t Vp6(uint32_t ms, bool key, int cols = 20, int rows = 15, size_t size = 400) {
    Bytes body{static_cast<uint8_t>(key ? 0x14 : 0x24),
               0x00,
               static_cast<uint8_t>(key ? 0x00 : 0x80),
               0x46,
               static_cast<uint8_t>(rows),
               static_cast<uint8_t>(cols),
               static_cast<uint8_t>(rows),
               static_cast<uint8_t>(cols)};
    body.resize(std::max(size, body.size()), 0x44);
    return Tag(9, ms, body);
  }
  size_t AvcHeader(uint32_t ms, const Bytes& sps) {
    Bytes body{0x17, 0, 0, 0, 0};
    const Bytes record = AvcConfig(sps);
    body.insert(body.end(), record.begin(), record.end());
    return Tag(9, ms, body);
  }
  size_t Avc(uint32_t ms, bool key, size_t size = 800) {
    Bytes body{static_cast<uint8_t>(key ? 0x17 : 0x27), 1, 0, 0, 0};
    body.resize(std::max(size, body.size()), 0x65);
    return Tag(9, ms, body);
  }
  size_t Script(uint32_t ms, const Bytes& amf) { return Tag(18, ms, amf); }

  // Bytes that are no tag.
  Builder& Raw(const Bytes& b) {
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
  }
  Builder& Zeros(size_t n) {
    bytes_.resize(bytes_.size() + n, 0);
    return *this;
  }
  // A second recording's header and its PreviousTagSize0.
  Builder& GluedHeader(uint8_t flags = 0x05) {
    Builder other(flags);
    return Raw(other.bytes_);
  }

  size_t size() const { return bytes_.size(); }
  const Bytes& bytes() const { return bytes_; }
  Bytes Cut(size_t keep) const {
    return Bytes(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(keep));
  }

 private:
  Bytes bytes_;
  int prevError_ = 0;
};

// Deterministic bytes that hold no byte a tag could start with, so that the
// amount skipped over them is known exactly.
inline Bytes Garbage(size_t n, uint32_t seed = 1) {
  Bytes out;
  while (out.size() < n) {
    seed = seed * 1664525u + 1013904223u;
    const uint8_t b = static_cast<uint8_t>(seed >> 24);
    if (b == 0 || b == 8 || b == 9 || b == 0x12 || b == 0x28 || b == 0x29 || b == 0x32 ||
        b == 'F') {
      continue;
    }
    out.push_back(b);
  }
  return out;
}

// A file whose visible size the test chooses: a recording still being
// written, from the reader's side.
class GrowingSource final : public flv_reader::ByteSource {
 public:
  explicit GrowingSource(const Bytes& all) : all_(all) {}
  void Show(size_t n) { shown_ = std::min(n, all_.size()); }
  int64_t Size() const override { return static_cast<int64_t>(shown_); }
  int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const override {
    if (offset < 0 || length < 0) return -1;
    if (offset >= static_cast<int64_t>(shown_)) return 0;
    const int64_t n = std::min<int64_t>(length, static_cast<int64_t>(shown_) - offset);
    std::memcpy(buffer, all_.data() + offset, static_cast<size_t>(n));
    return n;
  }

 private:
  const Bytes& all_;
  size_t shown_ = 0;
};

}  // namespace flvtest
