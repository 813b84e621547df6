#include "media/flv/amf.h"

#include <string>

#include "media/flv/amf_parser.h"
#include "media/flv/flv_format.h"

namespace flv_reader::amf {
namespace detail {

bool Parser::Amf0Members(Value& v, int depth) {
  while (true) {
    if (Left() < 3) {
      pos_ = data_.size();
      return Fail(Outcome::kTruncated, "an object ends without its end marker");
    }
    const uint32_t keyLength = ReadU16(data_.data() + pos_);
    if (keyLength == 0 && data_[pos_ + 2] == 0x09) {
      pos_ += 3;
      return true;
    }
    pos_ += 2;
    if (!Need(keyLength)) return false;
    v.members.push_back({KeyText(Take(keyLength)), {}});
    if (!Amf0(v.members.back().value, depth)) return false;
  }
}

bool Parser::Amf0(Value& v, int depth) {
  if (!CountValue() || !Need(1)) return false;
  const uint8_t marker = data_[pos_++];
  switch (marker) {
    case 0x00:
      if (!Need(8)) return false;
      v.type = Type::kNumber;
      v.number = ReadDouble(data_.data() + pos_);
      pos_ += 8;
      return true;
    case 0x01:
      if (!Need(1)) return false;
      v.type = Type::kBoolean;
      v.number = data_[pos_++] != 0;
      return true;
    case 0x02:
    case 0x0c:
    case 0x0f: {
      const size_t lengthBytes = marker == 0x02 ? 2 : 4;
      if (!Need(lengthBytes)) return false;
      const uint32_t length =
          lengthBytes == 2 ? ReadU16(data_.data() + pos_) : ReadU32(data_.data() + pos_);
      pos_ += lengthBytes;
      if (!Need(length)) return false;
      v.type = marker == 0x0f ? Type::kXml : Type::kString;
      Keep(Take(length), v);
      return true;
    }
    case 0x03:
      v.type = Type::kObject;
      return Enter(depth) && Amf0Members(v, depth + 1);
    case 0x05:
      v.type = Type::kNull;
      return true;
    case 0x06:
      v.type = Type::kUndefined;
      return true;
    case 0x07:
      if (!Need(2)) return false;
      v.type = Type::kReference;
      v.number = ReadU16(data_.data() + pos_);
      pos_ += 2;
      return true;
    case 0x08: {
      if (!Need(4)) return false;
      // The count is a hint some writers get wrong; the end marker decides.
      const uint32_t count = ReadU32(data_.data() + pos_);
      pos_ += 4;
      if (count > Left() / 3) {
        Odd("an ECMA array claims " + std::to_string(count) + " entries in " +
            std::to_string(Left()) + " bytes");
      }
      v.type = Type::kEcmaArray;
      return Enter(depth) && Amf0Members(v, depth + 1);
    }
    case 0x0a: {
      if (!Need(4)) return false;
      const uint32_t count = ReadU32(data_.data() + pos_);
      pos_ += 4;
      v.type = Type::kStrictArray;
      if (!Enter(depth)) return false;
      if (count > Left()) {
        Odd("a strict array claims " + std::to_string(count) + " entries in " +
            std::to_string(Left()) + " bytes");
      }
      for (uint32_t i = 0; i < count; ++i) {
        if (AtEnd()) {
          return Fail(Outcome::kTruncated, "a strict array claims " + std::to_string(count) +
                                               " entries and the data ends after " +
                                               std::to_string(i));
        }
        v.items.emplace_back();
        if (!Amf0(v.items.back(), depth + 1)) return false;
      }
      return true;
    }
    case 0x0b:
      if (!Need(10)) return false;
      v.type = Type::kDate;
      v.number = ReadDouble(data_.data() + pos_);
      pos_ += 10;  // the time zone that follows is always 0
      return true;
    case 0x0d:
      v.type = Type::kUnsupported;
      return true;
    case 0x10: {
      if (!Need(2)) return false;
      const uint32_t length = ReadU16(data_.data() + pos_);
      pos_ += 2;
      if (!Need(length)) return false;
      v.type = Type::kTypedObject;
      Keep(Take(length), v);
      return Enter(depth) && Amf0Members(v, depth + 1);
    }
    case 0x11:
      --out_.valueCount;  // the AMF3 value counts itself
      return Amf3(v, depth);
    default:
      pos_ = data_.size();
      return Fail(Outcome::kMalformed, "an AMF0 value of unknown type " + std::to_string(marker));
  }
}

}  // namespace detail

const Value* Value::Find(std::string_view key) const {
  for (const Member& member : members) {
    if (member.name == key) return &member.value;
  }
  return nullptr;
}

std::string_view TypeName(Type type) {
  switch (type) {
    case Type::kNumber:
      return "number";
    case Type::kBoolean:
      return "boolean";
    case Type::kString:
      return "string";
    case Type::kObject:
      return "object";
    case Type::kNull:
      return "null";
    case Type::kUndefined:
      return "undefined";
    case Type::kReference:
      return "reference";
    case Type::kEcmaArray:
      return "ECMA array";
    case Type::kStrictArray:
      return "strict array";
    case Type::kDate:
      return "date";
    case Type::kXml:
      return "XML";
    case Type::kTypedObject:
      return "typed object";
    case Type::kByteArray:
      return "byte array";
    case Type::kUnsupported:
      return "unsupported";
  }
  return "unknown";
}

Parsed ParseAmf0(std::span<const uint8_t> data, const Limits& limits) {
  return detail::Parse<false>(data, limits);
}

}  // namespace flv_reader::amf
