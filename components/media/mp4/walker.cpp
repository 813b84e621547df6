#include "media/mp4/walker.h"

#include <algorithm>

#include "media/flv/text_format.h"
#include "media/mp4/fragments.h"
#include "media/mp4/movie_header.h"
#include "media/mp4/walk_context.h"

namespace mp4_reader {
namespace walk {

void Context::Refuse(Refusal why, std::string text) {
  if (Refused()) return;
  facts.refusal = why;
  facts.refusalText = std::move(text);
}

bool Context::CountBox() {
  if (++facts.boxes <= limits.maxBoxes) return true;
  Refuse(Refusal::kTooManyBoxes, "it is made of more than " + std::to_string(limits.maxBoxes) +
                                     " boxes, more than any "
                                     "real video");
  return false;
}

void Context::Problem(int64_t offset, std::string text, int64_t timeMs) {
  AddProblem(facts, limits, {offset, timeMs, std::move(text)});
}

bool Context::AddIndexCost(size_t track, int64_t entries) {
  TrackTables& t = tables[track];
  t.indexCost = std::min(t.indexCost + std::max<int64_t>(entries, 0), INT64_MAX / 4);
  indexCost = std::min(indexCost + std::max<int64_t>(entries, 0), INT64_MAX / 4);
  if (t.indexCost <= limits.maxTrackSamples && indexCost <= limits.maxFileSamples) return true;
  // About 50 bytes an entry in the engine's index, and a second's work for
  // every 700,000 or so while it opens.
  const bool oneTrack = t.indexCost > limits.maxTrackSamples;
  const int64_t count = oneTrack ? t.indexCost : indexCost;
  Refuse(Refusal::kTooManySamples,
         std::string(oneTrack ? "one of its tracks claims " : "its tracks claim ") +
             std::to_string(count) + " samples, more than the player allows (" +
             std::to_string(oneTrack ? limits.maxTrackSamples : limits.maxFileSamples) +
             "): indexing them would take the engine " + flv_reader::FormatBytes(count * 50) +
             " of memory");
  return false;
}

int Context::TrackIndex(uint32_t id) const {
  for (size_t i = 0; i < facts.tracks.size(); ++i) {
    if (facts.tracks[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

bool ChildrenWithin(Context& context, int64_t start, int depth) {
  if (depth <= context.limits.maxDepth) return !context.Refused();
  context.Problem(start, "boxes nested more than " + std::to_string(context.limits.maxDepth) +
                             " deep are not read");
  return false;
}

bool NextChild(Context& context, int64_t& at, int64_t end, Box* box) {
  const BoxRead read = ReadBox(context.source, at, end, box);
  if (read == BoxRead::kEnd) return false;
  if (read == BoxRead::kBroken) {
    context.Problem(at, "a broken box header; the " + std::to_string(end - at) +
                            " bytes from there to the end of its parent are not read");
    return false;
  }
  if (!context.CountBox()) return false;
  if (box->Overruns()) {
    context.Problem(box->offset, "its " + FourCcText(box->type) + " box claims " +
                                     std::to_string(box->claimedEnd - box->offset) +
                                     " bytes, past the end of the box it is in");
  }
  at = box->end;
  return true;
}

}  // namespace walk

namespace {

void ReadBrands(const flv_reader::ByteSource& source, const Box& ftyp, Facts& facts) {
  constexpr size_t kBrandsShown = 6;
  const std::vector<uint8_t> body = ReadBody(source, ftyp, 8 + 4 * kBrandsShown);
  if (body.size() >= 4) facts.brand = FourCcText(Be32(body.data()));
  for (size_t at = 8; at + 4 <= body.size(); at += 4) {
    facts.compatible.push_back(FourCcText(Be32(body.data() + at)));
  }
}

// The cut tracks together: the engine stops at the first sample it cannot
// read, whichever track it is in.
void JoinCuts(walk::Context& c) {
  Facts& f = c.facts;
  for (const Track& t : f.tracks) {
    if (!t.present() || !t.cut) continue;
    const int64_t ms = TicksToMs(t.heldTicks, t.timescale);
    f.cutMs = f.cut ? std::min(f.cutMs, ms) : ms;
    f.cutOffset = f.cut ? std::min(f.cutOffset, t.cutOffset) : t.cutOffset;
    f.cut = true;
  }
  if (!f.cut) return;
  std::string held;
  for (const Track& t : f.tracks) {
    if (!t.present()) continue;
    held += (held.empty() ? "" : ", ") + std::to_string(t.heldSamples) + " of " +
            std::to_string(t.samples) +
            (t.kind == TrackKind::kVideo ? " video samples" : " sound samples");
  }
  const int64_t claimed = ClaimedMs(f);
  c.Problem(f.cutOffset,
            "the file ends inside its media data (" + held + " are in it)" +
                (claimed > 0 ? "; the header claims " + flv_reader::FormatClock(claimed) : ""),
            f.cutMs);
}

}  // namespace

Facts Walk(const flv_reader::ByteSource& source, const Limits& limits) {
  Facts facts;
  facts.fileSize = std::max<int64_t>(source.Size(), 0);
  walk::Context c{source, limits, facts, {}, 0};
  int64_t at = 0;
  Box box;
  bool endsInsideBox = false;
  while (!c.Refused()) {
    const BoxRead read = ReadBox(source, at, facts.fileSize, &box);
    if (read == BoxRead::kEnd) {
      if (at < facts.fileSize) {
        c.Problem(at, std::to_string(facts.fileSize - at) + " bytes at the end, too few for a box");
      }
      break;
    }
    if (read == BoxRead::kBroken) {
      c.Problem(at, "a broken box header; the " + std::to_string(facts.fileSize - at) +
                        " bytes from there to the end are not read");
      break;
    }
    if (!c.CountBox()) break;
    // At the top level a box may claim more than the file holds: that is
    // where the file was cut.
    const bool last = box.Overruns();
    at = box.end;
    if (facts.boxes == 1) {
      facts.isMp4 = box.type == FourCc("ftyp");
      if (!facts.isMp4) {
        c.Refuse(Refusal::kNotMp4, "it does not start as an MP4 file does");
        break;
      }
    }
    switch (box.type) {
      case FourCc("ftyp"):
        if (facts.brand.empty()) ReadBrands(source, box, facts);
        break;
      case FourCc("moov"):
        if (facts.moovOffset >= 0) {
          c.Problem(box.offset, "a second movie header; the engine reads the first only");
          break;
        }
        if (last) {
          c.Refuse(Refusal::kHeaderCut,
                   "it is cut off inside its movie header (moov box): the file ends " +
                       flv_reader::FormatBytes(facts.fileSize - box.offset) + " into its " +
                       flv_reader::FormatBytes(box.claimedEnd - box.offset));
          break;
        }
        source.WillRead(box.offset, box.end - box.offset);
        walk::ReadMovieHeader(c, box);
        break;
      case FourCc("mdat"):
        ++facts.mdatBoxes;
        break;
      case FourCc("moof"):
        source.WillRead(box.offset, box.end - box.offset);
        walk::ReadFragment(c, box);
        break;
      case FourCc("mfra"):
        facts.fragmentIndex = true;
        break;
      default:
        break;
    }
    if (last) {
      endsInsideBox = true;
      break;
    }
  }
  if (c.Refused()) return facts;
  // Past the walk, the file's size claims are all known.
  if (facts.moovOffset < 0) {
    if (endsInsideBox) {
      c.Refuse(Refusal::kCutBeforeHeader,
               "it is cut off after " + flv_reader::FormatBytes(facts.fileSize) +
                   ", before its movie header (moov box), which says where its pictures and "
                   "sound are");
    } else {
      c.Refuse(Refusal::kNoHeader,
               "it holds no movie header (moov box), which says where its pictures and sound "
               "are");
    }
    return facts;
  }
  JoinCuts(c);
  return facts;
}

}  // namespace mp4_reader
