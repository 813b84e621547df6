#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "media/flv/flv_format.h"
#include "media/flv/walk_state.h"

// Whether a tag starts at a given offset: a plausible header, and either the
// PreviousTagSize field after it agrees (exactly, or off by the amount its
// writer is seen to be off by every time) or the tags after it follow in a
// chain. Stray bytes rarely pass. Where the bytes that would decide have not
// arrived yet, a pass whose end is not final waits instead of deciding.
namespace flv_reader::walk {

// Enough of a body for every flags byte, packet type and composition time.
inline constexpr int64_t kBodyPeek = 16;

enum class Verdict : uint8_t { kTag, kCut, kNoTag, kWait };

struct Peeked {
  TagHeader tag;
  std::span<const uint8_t> body;  // as much of the body as kBodyPeek and the file allow
};
// The header at `at` and the first bytes of its body, or nothing when the
// file ends before the header does. The body is valid until the next read.
std::optional<Peeked> Peek(Pass& p, int64_t at);

// A tag as Evaluate() saw it, kept so that taking it needs no second read.
struct TagView {
  TagHeader tag;
  std::array<uint8_t, kBodyPeek> body{};
  size_t bodyBytes = 0;
  int64_t prev = -1;  // its PreviousTagSize; -1 when the file ends first
  std::span<const uint8_t> Body() const { return {body.data(), bodyBytes}; }
};
// A walk that follows the chain asks for a plausible header (strict false),
// a search after damage for a strictly plausible one. kCut: a tag the end of
// the file cuts short, in a final pass only.
Verdict Evaluate(Pass& p, int64_t at, bool strict, TagView* out);

// Another recording's "FLV" header at `at`, whole.
bool GluedHeaderAt(Pass& p, int64_t at);
// The start of such a header whose rest has not arrived yet.
bool MayBeGluedHeader(Pass& p, int64_t at);

// Counts a taken tag's PreviousTagSize field (at fieldAt), names it when it
// is wrong, and learns the writer's habit once two fields in a row are wrong
// by the same amount, so that Evaluate() accepts that amount from then on.
void CheckPrevSize(Pass& p, int64_t fieldAt, uint32_t prev, const TagHeader& tag);

}  // namespace flv_reader::walk
