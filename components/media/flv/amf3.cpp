#include "media/flv/amf.h"

#include <string>

#include "media/flv/amf_parser.h"
#include "media/flv/flv_format.h"

namespace flv_reader::amf {
namespace detail {

bool Parser::U29(uint32_t& out) {
  out = 0;
  for (int i = 0; i < 4; ++i) {
    if (!Need(1)) return false;
    const uint8_t b = data_[pos_++];
    if (i == 3) {
      out = out << 8 | b;
      return true;
    }
    out = out << 7 | (b & 0x7f);
    if (!(b & 0x80)) return true;
  }
  return true;
}

bool Parser::Amf3String(std::string_view& out) {
  uint32_t header;
  if (!U29(header)) return false;
  if (!(header & 1)) {
    const uint32_t index = header >> 1;
    if (index >= strings3_.size()) {
      return Fail(Outcome::kMalformed, "an AMF3 string refers to one never sent");
    }
    out = strings3_[index];
    return true;
  }
  const uint32_t length = header >> 1;
  if (!Need(length)) return false;
  out = Take(length);
  if (!out.empty()) strings3_.push_back(out);
  return true;
}

bool Parser::Amf3(Value& v, int depth) {
  if (!CountValue() || !Need(1)) return false;
  const uint8_t marker = data_[pos_++];
  uint32_t header = 0;
  switch (marker) {
    case 0x00:
      v.type = Type::kUndefined;
      return true;
    case 0x01:
      v.type = Type::kNull;
      return true;
    case 0x02:
    case 0x03:
      v.type = Type::kBoolean;
      v.number = marker == 0x03;
      return true;
    case 0x04: {
      if (!U29(header)) return false;
      // 29 bits, two's complement.
      const int64_t n = (header & 0x10000000) ? int64_t{header} - 0x20000000 : int64_t{header};
      v.type = Type::kNumber;
      v.number = static_cast<double>(n);
      return true;
    }
    case 0x05:
      if (!Need(8)) return false;
      v.type = Type::kNumber;
      v.number = ReadDouble(data_.data() + pos_);
      pos_ += 8;
      return true;
    case 0x06: {
      std::string_view s;
      if (!Amf3String(s)) return false;
      v.type = Type::kString;
      Keep(s, v);
      return true;
    }
    case 0x07:
    case 0x0b:
    case 0x0c: {
      if (!U29(header)) return false;
      if (!(header & 1)) return Amf3Reference(header, v);
      const uint32_t length = header >> 1;
      if (!Need(length)) return false;
      const std::string_view bytes = Take(length);
      if (marker == 0x0c) {
        v.type = Type::kByteArray;
        v.number = length;
      } else {
        v.type = Type::kXml;
        Keep(bytes, v);
      }
      return true;
    }
    case 0x08:
      if (!U29(header)) return false;
      if (!(header & 1)) return Amf3Reference(header, v);
      if (!Need(8)) return false;
      v.type = Type::kDate;
      v.number = ReadDouble(data_.data() + pos_);
      pos_ += 8;
      return true;
    case 0x09: {
      if (!U29(header)) return false;
      if (!(header & 1)) return Amf3Reference(header, v);
      const uint32_t count = header >> 1;
      if (!Enter(depth)) return false;
      while (true) {
        std::string_view key;
        if (!Amf3String(key)) return false;
        if (key.empty()) break;
        v.members.push_back({KeyText(key), {}});
        if (!Amf3(v.members.back().value, depth + 1)) return false;
      }
      v.type = v.members.empty() ? Type::kStrictArray : Type::kEcmaArray;
      for (uint32_t i = 0; i < count; ++i) {
        if (AtEnd()) {
          return Fail(Outcome::kTruncated, "an AMF3 array claims " + std::to_string(count) +
                                               " entries and the data ends after " +
                                               std::to_string(i));
        }
        v.items.emplace_back();
        if (!Amf3(v.items.back(), depth + 1)) return false;
      }
      return true;
    }
    case 0x0a: {
      if (!U29(header)) return false;
      if (!(header & 1)) return Amf3Reference(header, v);
      size_t traitsIndex;
      if (!(header & 2)) {
        traitsIndex = header >> 2;
        if (traitsIndex >= traits3_.size()) {
          return Fail(Outcome::kMalformed, "an AMF3 object refers to a class never described");
        }
      } else if (header & 4) {
        std::string_view className;
        if (!Amf3String(className)) return false;
        return Fail(Outcome::kMalformed, "an AMF3 object of class \"" + KeyText(className) +
                                             "\" that only its own class can read");
      } else {
        Traits traits;
        traits.dynamic = header & 8;
        if (!Amf3String(traits.className)) return false;
        const uint32_t sealed = header >> 4;
        for (uint32_t i = 0; i < sealed; ++i) {
          std::string_view name;
          if (!CountValue() || !Amf3String(name)) return false;
          traits.members.push_back(name);
        }
        traits3_.push_back(std::move(traits));
        traitsIndex = traits3_.size() - 1;
      }
      const Traits& traits = traits3_[traitsIndex];
      v.type = traits.className.empty() ? Type::kObject : Type::kTypedObject;
      Keep(traits.className, v);
      if (!Enter(depth)) return false;
      for (const std::string_view name : traits.members) {
        v.members.push_back({KeyText(name), {}});
        if (!Amf3(v.members.back().value, depth + 1)) return false;
      }
      if (traits.dynamic) {
        while (true) {
          std::string_view key;
          if (!Amf3String(key)) return false;
          if (key.empty()) break;
          v.members.push_back({KeyText(key), {}});
          if (!Amf3(v.members.back().value, depth + 1)) return false;
        }
      }
      return true;
    }
    case 0x0d:
    case 0x0e:
    case 0x0f: {
      if (!U29(header)) return false;
      if (!(header & 1)) return Amf3Reference(header, v);
      const uint32_t count = header >> 1;
      const size_t width = marker == 0x0f ? 8 : 4;
      if (!Need(1)) return false;
      ++pos_;  // fixed-length flag
      if (count > Left() / width) {
        pos_ = data_.size();
        return Fail(Outcome::kTruncated, "an AMF3 vector claims " + std::to_string(count) +
                                             " numbers and the data ends first");
      }
      v.type = Type::kStrictArray;
      if (!Enter(depth)) return false;
      for (uint32_t i = 0; i < count; ++i) {
        if (!CountValue()) return false;
        Value& item = v.items.emplace_back();
        item.type = Type::kNumber;
        const uint8_t* p = data_.data() + pos_;
        item.number = marker == 0x0f   ? ReadDouble(p)
                      : marker == 0x0d ? static_cast<double>(static_cast<int32_t>(ReadU32(p)))
                                       : static_cast<double>(ReadU32(p));
        pos_ += width;
      }
      return true;
    }
    case 0x10:
    case 0x11: {
      if (!U29(header)) return false;
      if (!(header & 1)) return Amf3Reference(header, v);
      const uint32_t count = header >> 1;
      if (!Need(1)) return false;
      ++pos_;  // fixed-length or weak-keys flag
      if (marker == 0x10) {
        std::string_view typeName;
        if (!Amf3String(typeName)) return false;
      }
      v.type = marker == 0x10 ? Type::kStrictArray : Type::kObject;
      if (!Enter(depth)) return false;
      for (uint32_t i = 0; i < count; ++i) {
        if (AtEnd()) {
          return Fail(Outcome::kTruncated, "an AMF3 collection claims " + std::to_string(count) +
                                               " entries and the data ends after " +
                                               std::to_string(i));
        }
        if (marker == 0x10) {
          v.items.emplace_back();
          if (!Amf3(v.items.back(), depth + 1)) return false;
          continue;
        }
        Value key;
        if (!Amf3(key, depth + 1)) return false;
        v.members.push_back({key.IsString() ? key.text : std::string(), {}});
        if (!Amf3(v.members.back().value, depth + 1)) return false;
      }
      return true;
    }
    default:
      pos_ = data_.size();
      return Fail(Outcome::kMalformed, "an AMF3 value of unknown type " + std::to_string(marker));
  }
}

}  // namespace detail

Parsed ParseAmf3(std::span<const uint8_t> data, const Limits& limits) {
  return detail::Parse<true>(data, limits);
}

}  // namespace flv_reader::amf
