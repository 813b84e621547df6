#include "media/flv/script_data.h"

#include <cmath>

namespace flv_reader {
namespace {

bool IsContainer(const amf::Value& v) {
  return v.type == amf::Type::kObject || v.type == amf::Type::kEcmaArray ||
         v.type == amf::Type::kTypedObject || v.type == amf::Type::kStrictArray;
}

// The numbers of a list, whether a writer made it a strict array or an
// ECMA array.
void ReadNumbers(const amf::Value& list, size_t bound, int64_t& count, std::vector<double>& out) {
  count = 0;
  out.clear();
  auto take = [&](const amf::Value& v) {
    if (!v.IsNumber()) return;
    ++count;
    if (out.size() < bound) out.push_back(v.number);
  };
  for (const amf::Value& item : list.items) take(item);
  for (const auto& member : list.members) take(member.value);
}

std::string Cut(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  // Not in the middle of a UTF-8 sequence.
  size_t n = bytes;
  while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xc0) == 0x80) --n;
  return text.substr(0, n);
}

}  // namespace

void ReadMetadata(const amf::Value& object, const ScriptBounds& bounds, Metadata& out,
                  std::vector<CuePoint>& cuePoints) {
  struct NumberField {
    std::string_view key;
    std::optional<double> Metadata::*field;
  };
  static constexpr NumberField kNumbers[] = {
      {"duration", &Metadata::duration},
      {"width", &Metadata::width},
      {"height", &Metadata::height},
      {"framerate", &Metadata::framerate},
      {"videodatarate", &Metadata::videodatarate},
      {"audiodatarate", &Metadata::audiodatarate},
      {"filesize", &Metadata::filesize},
      {"audiosamplerate", &Metadata::audiosamplerate},
      {"audiosamplesize", &Metadata::audiosamplesize},
      {"videocodecid", &Metadata::videocodecid},
      {"audiocodecid", &Metadata::audiocodecid},
  };
  for (const auto& [key, value] : object.members) {
    bool known = false;
    for (const NumberField& f : kNumbers) {
      if (key != f.key) continue;
      known = true;
      if (value.IsNumber()) out.*f.field = value.number;
    }
    if (known) {
      if (value.IsString() && key == "videocodecid") out.videocodecText = Cut(value.text, 32);
      if (value.IsString() && key == "audiocodecid") out.audiocodecText = Cut(value.text, 32);
      continue;
    }
    if (key == "stereo") {
      if (value.type == amf::Type::kBoolean || value.IsNumber()) out.stereo = value.number != 0;
    } else if (key == "keyframes" && IsContainer(value)) {
      if (const amf::Value* positions = value.Find("filepositions")) {
        ReadNumbers(*positions, bounds.keyframeValues, out.keyframePositionCount,
                    out.keyframePositions);
      }
      if (const amf::Value* times = value.Find("times")) {
        ReadNumbers(*times, bounds.keyframeValues, out.keyframeTimeCount, out.keyframeTimes);
      }
    } else if (key == "cuePoints" && IsContainer(value)) {
      auto take = [&](const amf::Value& entry) {
        auto cue = ReadCuePoint(entry, bounds.stringBytes);
        if (!cue) return;
        ++out.cuePointCount;
        cue->fromMetadata = true;
        if (cuePoints.size() < bounds.cuePoints) cuePoints.push_back(std::move(*cue));
      };
      for (const amf::Value& item : value.items) take(item);
      for (const auto& member : value.members) take(member.value);
    } else if (value.IsString() && out.strings.size() < bounds.strings) {
      out.strings.emplace_back(Cut(key, 64), Cut(value.text, bounds.stringBytes));
    }
  }
}

std::optional<CuePoint> ReadCuePoint(const amf::Value& object, size_t nameBytes) {
  if (!IsContainer(object)) return std::nullopt;
  CuePoint cue;
  const amf::Value* name = object.Find("name");
  const amf::Value* time = object.Find("time");
  if (name && name->IsString()) cue.name = Cut(name->text, nameBytes);
  if (time && time->IsNumber() && std::isfinite(time->number)) cue.timeSec = time->number;
  if (const amf::Value* type = object.Find("type"); type && type->IsString()) {
    cue.type = Cut(type->text, 32);
  }
  if (cue.name.empty() && cue.timeSec < 0) return std::nullopt;
  return cue;
}

std::optional<std::string> ReadCaptionText(const amf::Value& value, size_t maxBytes) {
  if (value.IsString()) return Cut(value.text, maxBytes);
  if (const amf::Value* text = value.Find("text"); text && text->IsString()) {
    return Cut(text->text, maxBytes);
  }
  for (const amf::Value& item : value.items) {
    if (item.IsString()) return Cut(item.text, maxBytes);
  }
  return std::nullopt;
}

}  // namespace flv_reader
