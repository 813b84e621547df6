#include "media/flv/walk_edges.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "media/flv/text_format.h"
#include "media/flv/walk_tags.h"

namespace flv_reader::walk {
namespace {

std::string StreamName(uint8_t type) {
  return type == kAudioTag ? "audio" : type == kVideoTag ? "video" : "script";
}

}  // namespace

std::optional<WalkStatus> ReadHeader(Pass& p) {
  State& s = p.s;
  Facts& f = s.facts;
  if (p.o.startOffset >= 0 || p.source.FirstHeld() > 0) {
    f.file.isFlv = true;
    s.pos = std::max(p.o.startOffset, p.source.FirstHeld());
    s.phase = State::Phase::kTags;
    return std::nullopt;
  }
  if (p.S() < kFileHeaderBytes) {
    const uint8_t* bytes = p.r.Get(0, p.S());
    const bool flvSoFar =
        bytes && p.S() > 0 && std::memcmp(bytes, "FLV", std::min<int64_t>(p.S(), 3)) == 0;
    if (!p.finalPass && (p.S() == 0 || flvSoFar)) {
      s.atEnd = true;
      return WalkStatus::kEndOfData;
    }
    if (!flvSoFar) {
      s.phase = State::Phase::kNotFlv;
      p.Problem(ProblemKind::kNotFlv, 0, -1,
                p.S() == 0 ? "the file is empty" : "the file does not start with \"FLV\"");
      return WalkStatus::kNotFlv;
    }
    f.file.isFlv = true;
    p.Problem(ProblemKind::kHeader, 0, -1,
              "the file ends inside its 9-byte header, after " + FormatBytes(p.S()));
    s.phase = State::Phase::kTags;
    s.pos = p.S();
    return std::nullopt;
  }
  const uint8_t* bytes = p.r.Get(0, kFileHeaderBytes);
  if (!bytes) return p.ReadFailed();
  const auto header = ParseFileHeader({bytes, kFileHeaderBytes});
  if (!header) {
    s.phase = State::Phase::kNotFlv;
    p.Problem(ProblemKind::kNotFlv, 0, -1, "the file does not start with \"FLV\"");
    return WalkStatus::kNotFlv;
  }
  f.file.isFlv = true;
  f.file.header = *header;
  f.problems = ProblemList(p.o.problemsPerKind);  // a second try after waiting for data
  if (header->version != 1) {
    p.Problem(ProblemKind::kHeader, 3, -1,
              "the header says FLV version " + std::to_string(header->version) + ", not 1");
  }
  if (header->reservedBitsSet()) {
    char flags[8];
    std::snprintf(flags, sizeof flags, "0x%02x", header->flags);
    p.Problem(ProblemKind::kHeader, 4, -1,
              std::string("the header's flags byte ") + flags + " sets bits no writer should");
  }
  // Tags start after the header and PreviousTagSize0. A larger data offset
  // is allowed if a tag is there; otherwise the writer got it wrong.
  constexpr int64_t kUsual = kFileHeaderBytes + kPrevSizeBytes;
  const int64_t claimed = int64_t{header->dataOffset} + kPrevSizeBytes;
  if (header->dataOffset != kFileHeaderBytes && !p.finalPass &&
      p.S() < std::max(claimed, kUsual) + kTagHeaderBytes) {
    // Where the tags start is decided once a tag could be there.
    s.atEnd = true;
    return WalkStatus::kEndOfData;
  }
  s.pos = kUsual;
  if (header->dataOffset != kFileHeaderBytes) {
    auto tagAt = [&](int64_t offset) {
      const auto peeked = Peek(p, offset);
      return peeked && PlausibleTag(peeked->tag);
    };
    if (header->dataOffset > kFileHeaderBytes && claimed <= p.S() &&
        (tagAt(claimed) || !tagAt(kUsual))) {
      s.pos = claimed;
    } else {
      p.Problem(ProblemKind::kDataOffset, 5, -1,
                "the header says the tags start at offset " + std::to_string(header->dataOffset) +
                    "; they start at offset 9");
    }
  }
  s.phase = State::Phase::kTags;
  return std::nullopt;
}

void SecondHeader(Pass& p, int64_t at) {
  State& s = p.s;
  const uint8_t* bytes = p.r.Get(at, kFileHeaderBytes);
  const auto header = bytes ? ParseFileHeader({bytes, kFileHeaderBytes}) : std::nullopt;
  ++s.facts.damage.secondHeaders;
  p.Problem(ProblemKind::kSecondHeader, at, s.lastMediaMs,
            "a second FLV header: another recording glued on after this point");
  // Its timestamps start afresh: no step back to report.
  s.audio.prevMs = -1;
  s.video.prevMs = -1;
  s.pos = at + (header ? header->dataOffset : kFileHeaderBytes) + kPrevSizeBytes;
}

void CutAtEnd(Pass& p, int64_t at, const TagHeader& tag) {
  Facts& f = p.s.facts;
  f.damage.lastTagCut = true;
  f.damage.cutTagOffset = at;
  f.damage.cutTagMs = tag.timestamp;
  const int64_t have = p.S() - at - kTagHeaderBytes;
  p.Problem(ProblemKind::kLastTagCut, at, tag.timestamp,
            "the last tag (" + StreamName(tag.type) + ", " + FormatBytes(tag.dataSize) +
                ") is cut after " + FormatBytes(have) + "; the content ends at " +
                FormatClock(std::max<int64_t>(p.s.lastMediaMs, 0)));
}

void BytesAtEnd(Pass& p, int64_t at) {
  const int64_t n = p.S() - at;
  const uint8_t* bytes = p.r.Get(at, n);
  if (!bytes) return;
  Facts& f = p.s.facts;
  const uint8_t type = bytes[0] & 0x1f;
  if ((bytes[0] & 0xc0) == 0 && (type == kAudioTag || type == kVideoTag || type == kScriptTag)) {
    f.damage.lastTagCut = true;
    f.damage.cutTagOffset = at;
    f.damage.cutTagMs = n >= 8 ? int64_t{ReadU24(bytes + 4) | uint32_t{bytes[7]} << 24} : -1;
    p.Problem(ProblemKind::kLastTagCut, at, f.damage.cutTagMs,
              "the last tag is cut inside its header; the content ends at " +
                  FormatClock(std::max<int64_t>(p.s.lastMediaMs, 0)));
    return;
  }
  f.damage.trailingBytes += n;
  f.damage.bytesSkipped += n;
  p.Problem(ProblemKind::kTrailingBytes, at, p.s.lastMediaMs,
            FormatBytes(n) + " after the last tag are no tag");
}

}  // namespace flv_reader::walk
