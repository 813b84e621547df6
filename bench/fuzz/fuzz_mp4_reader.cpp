// libFuzzer entry for the MP4 reader. Each input is walked whole, as every
// prefix the input's last byte picks (a file cut short), and under small
// bounds; the report is written each time. Besides crashes, hangs and huge
// allocations, it stops on facts that contradict themselves: a track holding
// more samples than it has, a cut with no place or time, an engine end past
// the file, a refusal without a reason.

#include <cstdint>
#include <cstdlib>
#include <span>

#include "media/mp4/report.h"
#include "media/mp4/walker.h"

namespace {

using namespace mp4_reader;

void Check(const Facts& f) {
  const auto fail = [](bool bad) {
    if (bad) std::abort();
  };
  fail((f.refusal == Refusal::kNone) == !f.refusalText.empty());
  if (f.refusal != Refusal::kNone) return;
  fail(f.cut && (f.cutOffset < 0 || f.cutMs < 0));
  const int64_t end = EngineEnd(f);
  fail(end != -1 && (end < 0 || end > f.fileSize));
  for (const Track& t : f.tracks) {
    fail(t.heldSamples < 0 || (!t.fragmented && t.heldSamples > t.samples));
    fail(t.heldBytes < 0 || t.heldTicks < 0);
  }
  fail(HeldMs(f) < 0 || ClaimedMs(f) < 0);
  Report(f);
  CutShort(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  flv_reader::MemorySource whole{bytes};
  Check(Walk(whole));

  // Cut short where the input says.
  const size_t cut = size > 1 ? size * data[size - 1] / 255 : 0;
  flv_reader::MemorySource part{bytes.first(cut)};
  Check(Walk(part));

  // Bounds small enough for a short input to reach.
  Limits small;
  small.maxBoxes = 64;
  small.maxTracks = 2;
  small.maxTrackSamples = 100;
  small.maxFileSamples = 150;
  small.maxProblems = 4;
  Check(Walk(whole, small));
  return 0;
}
