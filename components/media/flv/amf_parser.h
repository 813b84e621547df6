#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "media/flv/amf.h"

// The one parser behind ParseAmf0() and ParseAmf3(), shared because an AMF0
// value may switch to AMF3 midway. It keeps the bounds amf.h promises: every
// value and nesting level counted against the limits, strings cut as they
// are kept, nothing reserved from a count read, references never followed.
// Internal to the AMF reader.
namespace flv_reader::amf::detail {

// Enough to show what kind of writer made the data; the rest add nothing.
inline constexpr size_t kMaxOddities = 8;

// AMF3 keeps tables of the strings, objects and class descriptions seen so
// far, and later values may refer back to them by index.
struct Traits {
  std::string_view className;
  std::vector<std::string_view> members;
  bool dynamic = false;
};

class Parser {
 public:
  Parser(std::span<const uint8_t> data, const Limits& limits, Parsed& out)
      : data_(data), limits_(limits), out_(out) {}

  bool AtEnd() const { return pos_ >= data_.size(); }
  bool Stopped() const { return stopped_; }
  size_t Pos() const { return pos_; }

  bool Amf0(Value& v, int depth);
  bool Amf3(Value& v, int depth);
  bool SkipStrayEnd() {
    if (Left() < 3 || data_[pos_] != 0 || data_[pos_ + 1] != 0 || data_[pos_ + 2] != 0x09) {
      return false;
    }
    pos_ += 3;
    return true;
  }

 private:
  size_t Left() const { return data_.size() - pos_; }
  bool Fail(Outcome outcome, std::string detail) {
    if (!stopped_) {
      stopped_ = true;
      out_.outcome = outcome;
      out_.detail = std::move(detail);
    }
    return false;
  }
  bool Need(size_t n) {
    return Left() >= n || Fail(Outcome::kTruncated, "the data ends inside a value");
  }
  bool CountValue() {
    return ++out_.valueCount <= limits_.maxValues ||
           Fail(Outcome::kTooManyValues,
                "more than " + std::to_string(limits_.maxValues) + " values");
  }
  bool Enter(int depth) {
    out_.deepest = std::max(out_.deepest, depth);
    return depth <= limits_.maxDepth ||
           Fail(Outcome::kTooDeep,
                "values nested more than " + std::to_string(limits_.maxDepth) + " levels deep");
  }
  void Odd(std::string what) {
    if (out_.oddities.size() < kMaxOddities) out_.oddities.push_back(std::move(what));
  }
  std::string_view Take(size_t n) {
    std::string_view s(reinterpret_cast<const char*>(data_.data() + pos_), n);
    pos_ += n;
    return s;
  }
  void Keep(std::string_view s, Value& v) {
    v.textCut = s.size() > limits_.maxStringBytes;
    v.text.assign(s.substr(0, limits_.maxStringBytes));
  }
  std::string KeyText(std::string_view s) const {
    return std::string(s.substr(0, limits_.maxStringBytes));
  }

  bool Amf0Members(Value& v, int depth);
  bool U29(uint32_t& out);
  bool Amf3String(std::string_view& out);
  bool Amf3Reference(uint32_t header, Value& v) {
    v.type = Type::kReference;
    v.number = header >> 1;
    return true;
  }

  std::span<const uint8_t> data_;
  const Limits& limits_;
  Parsed& out_;
  size_t pos_ = 0;
  bool stopped_ = false;
  std::vector<std::string_view> strings3_;
  std::deque<Traits> traits3_;  // a deque: entries stay put while nested objects add more
};

// Top-level values one after another, AMF0 or AMF3, until the data ends, a
// limit stops the parse, or Limits::topLevelValues are read.
template <bool kAmf3>
Parsed Parse(std::span<const uint8_t> data, const Limits& limits) {
  Parsed out;
  Parser parser(data, limits, out);
  while (!parser.AtEnd() && !parser.Stopped() && out.values.size() < limits.topLevelValues) {
    // Writers that close an object twice leave an object end marker where a
    // value would start.
    if (!kAmf3 && parser.SkipStrayEnd()) continue;
    Value& v = out.values.emplace_back();
    if (!(kAmf3 ? parser.Amf3(v, 1) : parser.Amf0(v, 1))) break;
  }
  out.bytesRead = parser.Pos();
  return out;
}

}  // namespace flv_reader::amf::detail
