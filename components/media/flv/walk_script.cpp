#include "media/flv/walk_script.h"

#include <algorithm>
#include <span>
#include <string>

#include "media/flv/amf.h"
#include "media/flv/script_data.h"
#include "media/flv/text_format.h"

namespace flv_reader::walk {
namespace {

constexpr size_t kMaxScriptNames = 32;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string NameOf(std::span<const uint8_t> body) {
  if (body.size() < 3 || body[0] != 0x02) return "(no name)";
  const size_t length = std::min<size_t>(ReadU16(body.data() + 1), body.size() - 3);
  std::string name(reinterpret_cast<const char*>(body.data() + 3), std::min<size_t>(length, 64));
  return name.empty() ? "(no name)" : name;
}

// A tag type no FLV writer uses and the engine does not know: it skips such a
// tag by the size in its header without reading its body.
constexpr uint8_t kUnknownTagType = 19;

HiddenTag HideMark(int64_t at, const TagHeader& tag, HideReason reason) {
  HiddenTag mark;
  mark.tagOffset = at;
  mark.tagBytes = kTagHeaderBytes + int64_t{tag.dataSize};
  mark.reason = reason;
  mark.patchOffset = at;
  mark.original = tag.typeByte;
  mark.replacement = static_cast<uint8_t>((tag.typeByte & 0xe0) | kUnknownTagType);
  return mark;
}

void Hide(Pass& p, int64_t at, const TagHeader& tag, HideReason reason, const std::string& name) {
  auto& hidden = p.s.facts.scripts.hidden;
  if (hidden.size() >= p.o.maxHiddenScripts) return;
  HiddenTag mark = HideMark(at, tag, reason);
  mark.name = name;
  hidden.push_back(std::move(mark));
}

// The engine takes a script tag it has no use for as a packet of a data
// stream. Before the first picture or sound it looks among them for the
// streams for only five seconds of their time: a file that starts with
// thousands of them (cue points, say) fails to open. A few are harmless;
// past them, all are hidden.
constexpr int64_t kDataScriptsBeforeMedia = 16;
// A script tag this small holds too few values to be absurd: past the cue
// points kept, its name is all that is read.
constexpr int64_t kSmallScriptBytes = 4096;

void NoteDataScript(Pass& p, int64_t at, const TagHeader& tag, const std::string& name) {
  State& s = p.s;
  if (s.facts.streams.audio.tags + s.facts.streams.video.tags > 0) return;
  HiddenTag mark = HideMark(at, tag, HideReason::kCrowdsOutMedia);
  mark.name = name;
  if (++s.dataScriptsBeforeMedia <= kDataScriptsBeforeMedia) {
    s.earlyDataScripts.push_back(std::move(mark));
    return;
  }
  auto& hidden = s.facts.scripts.hidden;
  if (s.dataScriptsBeforeMedia == kDataScriptsBeforeMedia + 1) {
    p.Problem(ProblemKind::kScriptAbsurd, at, tag.timestamp,
              "more than " + std::to_string(kDataScriptsBeforeMedia) +
                  " script tags come before the first audio or video tag; they are hidden from "
                  "the engine, which would give up looking for the media");
    for (HiddenTag& early : s.earlyDataScripts) {
      if (hidden.size() < p.o.maxHiddenScripts) hidden.push_back(std::move(early));
    }
    s.earlyDataScripts.clear();
  }
  if (hidden.size() < p.o.maxHiddenScripts) hidden.push_back(std::move(mark));
}

// A cue point is kept once: the same name at the same millisecond, from
// onMetaData's list or a tag of its own, is the same cue. Past the bound they
// are counted only.
void KeepCuePoint(Pass& p, CuePoint cue) {
  Facts& f = p.s.facts;
  const int64_t ms =
      cue.timeSec >= 0 ? ClampedRound(std::min(cue.timeSec, 1e12) * 1000) : cue.tagMs;
  std::pair<int64_t, std::string> key{ms, cue.name};
  if (p.s.cueKeys.count(key)) return;
  ++f.scripts.cuePointCount;
  if (f.scripts.cuePoints.size() >= p.o.script.cuePoints) return;
  p.s.cueKeys.insert(std::move(key));
  f.scripts.cuePoints.push_back(std::move(cue));
}

void CountScript(Pass& p, const std::string& name) {
  auto& names = p.s.facts.scripts.others;
  for (auto& [known, count] : names) {
    if (known == name) {
      ++count;
      return;
    }
  }
  if (names.size() < kMaxScriptNames) names.emplace_back(name, 1);
}

}  // namespace

namespace {

// Named members in `values` and everything inside them, counted up to `stop`.
int64_t CountMembers(const std::vector<amf::Value>& values, int64_t stop) {
  int64_t count = 0;
  std::vector<const amf::Value*> pending;
  for (const amf::Value& v : values) pending.push_back(&v);
  while (!pending.empty() && count < stop) {
    const amf::Value* v = pending.back();
    pending.pop_back();
    count += static_cast<int64_t>(v->members.size());
    for (const amf::Member& m : v->members) pending.push_back(&m.value);
    for (const amf::Value& item : v->items) pending.push_back(&item);
  }
  return count;
}

}  // namespace

void OnScript(Pass& p, int64_t at, const TagHeader& tag) {
  Facts& f = p.s.facts;
  const WalkOptions& o = p.o;
  ++f.file.scriptTags;
  const int64_t size = tag.dataSize;
  if (size > o.maxScriptTagBytes) {
    const int64_t n = std::min<int64_t>(size, 3 + 64);
    const uint8_t* head = p.r.Get(at + kTagHeaderBytes, n);
    const std::string name = head ? NameOf({head, static_cast<size_t>(n)}) : "(no name)";
    p.Problem(ProblemKind::kScriptAbsurd, at, tag.timestamp,
              "script tag " + Quoted(name) + " is " + FormatBytes(size) + ", more than the " +
                  FormatBytes(o.maxScriptTagBytes) + " any writer needs; not read");
    Hide(p, at, tag, HideReason::kOversized, name);
    CountScript(p, name);
    return;
  }
  if (p.s.scriptBytesParsed + size > o.maxScriptBytesTotal) {
    if (p.s.scriptBytesParsed <= o.maxScriptBytesTotal) {
      p.Problem(ProblemKind::kScriptAbsurd, at, tag.timestamp,
                "script tags hold more than " + FormatBytes(o.maxScriptBytesTotal) +
                    " in all; the rest are counted, not read");
      p.s.scriptBytesParsed = o.maxScriptBytesTotal + 1;
    }
    CountScript(p, "(not read)");
    return;
  }
  const uint8_t* body = p.r.Get(at + kTagHeaderBytes, size);
  if (!body) return;
  const std::span<const uint8_t> bytes{body, static_cast<size_t>(size)};
  const std::string name = NameOf(bytes);
  if (name == "onCuePoint" && size < kSmallScriptBytes &&
      f.scripts.cuePoints.size() >= o.script.cuePoints) {
    ++f.scripts.cuePointCount;
    NoteDataScript(p, at, tag, name);
    return;
  }
  p.s.scriptBytesParsed += size;
  amf::Limits limits = o.amf;
  limits.topLevelValues = 2;
  const amf::Parsed parsed = amf::ParseAmf0(bytes, limits);
  if (parsed.absurd()) {
    p.Problem(ProblemKind::kScriptAbsurd, at, tag.timestamp,
              "script tag " + Quoted(name) + " holds " + parsed.detail + "; not read further");
    const HideReason reason = parsed.outcome == amf::Outcome::kTooDeep ? HideReason::kTooDeep
                                                                       : HideReason::kTooManyValues;
    Hide(p, at, tag, reason, name);
    CountScript(p, name);
    return;
  }
  if (const int64_t members = CountMembers(parsed.values, o.maxScriptMembers + 1);
      members > o.maxScriptMembers) {
    p.Problem(ProblemKind::kScriptAbsurd, at, tag.timestamp,
              "script tag " + Quoted(name) + " holds more than " +
                  std::to_string(o.maxScriptMembers) + " named values; not read further");
    Hide(p, at, tag, HideReason::kTooManyValues, name);
    CountScript(p, name);
    return;
  }
  if (parsed.outcome != amf::Outcome::kComplete) {
    p.Problem(ProblemKind::kScriptMalformed, at, tag.timestamp,
              "script tag " + Quoted(name) + " is malformed: " + parsed.detail);
  }
  for (const std::string& odd : parsed.oddities) {
    p.Problem(ProblemKind::kScriptMalformed, at, tag.timestamp,
              "script tag " + Quoted(name) + ": " + odd);
  }
  const amf::Value* value = parsed.values.size() >= 2 ? &parsed.values[1] : nullptr;
  if (name == "onMetaData") {
    Metadata& m = f.scripts.metadata;
    if (m.tags++ == 0) {
      m.offset = at;
      m.hideMark = HideMark(at, tag, HideReason::kAbsurdClaims);
      m.hideMark->name = name;
      std::vector<CuePoint> listed;
      if (value) ReadMetadata(*value, o.script, m, listed);
      for (CuePoint& cue : listed) KeepCuePoint(p, std::move(cue));
    }
    return;
  }
  if (name == "onCuePoint") {
    auto cue = value ? ReadCuePoint(*value, o.script.stringBytes) : std::nullopt;
    if (!cue) cue = CuePoint{};
    cue->tagMs = tag.timestamp;
    cue->offset = at;
    KeepCuePoint(p, std::move(*cue));
    NoteDataScript(p, at, tag, name);
    return;
  }
  if (name == "onTextData" || name == "onCaption") {
    ++f.scripts.captionCount;
    const auto text = value ? ReadCaptionText(*value, o.script.captionBytes) : std::nullopt;
    if (text && f.scripts.captions.size() < o.maxCaptions) {
      f.scripts.captions.push_back({tag.timestamp, at, *text, name});
    }
    return;
  }
  CountScript(p, name);
  NoteDataScript(p, at, tag, name);
}

}  // namespace flv_reader::walk
