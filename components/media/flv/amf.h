#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Action Message Format values as FLV script tags carry them: AMF0 in full,
// and AMF3 after an AVM+ switch (or alone) far enough to read or step over
// any value. The parser trusts no length, count or depth from the data: it
// stops at a nesting limit and at a limit on values, truncates the strings
// it keeps, never reserves memory from a count it has read, and never expands
// references (so a tag cannot make it copy a subtree twice).
namespace flv_reader::amf {

enum class Type : uint8_t {
  kNumber,
  kBoolean,
  kString,  // string, long string
  kObject,
  kNull,
  kUndefined,
  kReference,  // index into earlier objects, in `number`
  kEcmaArray,
  kStrictArray,
  kDate,  // milliseconds since 1970 in `number`
  kXml,
  kTypedObject,  // class name in `text`
  kByteArray,    // length in `number`, bytes not kept
  kUnsupported,  // the "unsupported" and "movie clip" markers
};
std::string_view TypeName(Type type);

struct Member;

struct Value {
  Type type = Type::kUndefined;
  double number = 0;  // number, boolean (0 or 1), date, reference, byte array length
  std::string text;   // string, XML, class name; cut to Limits::maxStringBytes
  bool textCut = false;
  // Named members of objects and ECMA arrays, in the order written.
  std::vector<Member> members;
  std::vector<Value> items;  // strict arrays and AMF3 dense arrays

  // The first member called `key`, or null.
  const Value* Find(std::string_view key) const;
  bool IsNumber() const { return type == Type::kNumber; }
  bool IsString() const { return type == Type::kString; }
};

struct Member {
  std::string name;
  Value value;
};

struct Limits {
  int maxDepth = 32;           // containers inside containers
  int64_t maxValues = 200000;  // values and member names in one parse
  size_t maxStringBytes = 65536;
  // Top-level values to read; a script tag is a name and one value, and what
  // follows them is nobody's business.
  size_t topLevelValues = SIZE_MAX;
};

enum class Outcome : uint8_t {
  kComplete,
  kTruncated,      // the data ends inside a value
  kMalformed,      // a marker no writer uses, or a value nothing can step over
  kTooDeep,        // nesting past Limits::maxDepth
  kTooManyValues,  // more than Limits::maxValues
};

struct Parsed {
  // Every top-level value read, the last one perhaps only in part.
  std::vector<Value> values;
  Outcome outcome = Outcome::kComplete;
  std::string detail;  // what stopped the parse, in words; empty when complete
  size_t bytesRead = 0;
  int64_t valueCount = 0;
  int deepest = 0;
  // Counts that claim more than the data can hold, objects without their end
  // marker: a few, in words.
  std::vector<std::string> oddities;
  bool absurd() const { return outcome == Outcome::kTooDeep || outcome == Outcome::kTooManyValues; }
};

// Values one after another until the data ends or a limit stops the parse.
Parsed ParseAmf0(std::span<const uint8_t> data, const Limits& limits = {});
Parsed ParseAmf3(std::span<const uint8_t> data, const Limits& limits = {});

}  // namespace flv_reader::amf
