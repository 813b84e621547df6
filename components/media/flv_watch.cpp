#include "media/flv_watch.h"

#include "media/flv/tail.h"

namespace {

// Bytes walked between two looks at the clock: a few milliseconds' worth.
constexpr int64_t kSliceBytes = int64_t{16} << 20;

}  // namespace

FlvWatch::FlvWatch(std::shared_ptr<const FileHandle> file)
    : file_(std::move(file)), source_(file_->fd()), walker_(source_) {}

flv_reader::Facts FlvWatch::QuickFacts() const { return flv_reader::QuickLook(source_); }

bool FlvWatch::WalkFor(std::chrono::milliseconds budget, const std::atomic<bool>* cancel) {
  return Walk(budget, cancel, false);
}

bool FlvWatch::WalkToMedia(std::chrono::milliseconds budget) { return Walk(budget, nullptr, true); }

bool FlvWatch::Walk(std::chrono::milliseconds budget, const std::atomic<bool>* cancel,
                    bool toMedia) {
  const auto deadline = std::chrono::steady_clock::now() + budget;
  // Small slices where the first media tag is what is waited for.
  const int64_t slice = toMedia ? kSliceBytes / 64 : kSliceBytes;
  for (;;) {
    const int64_t size = source_.Size();
    const flv_reader::WalkStatus status =
        walker_.Walk({.maxTags = 0, .maxBytes = slice, .cancel = cancel});
    if (status != flv_reader::WalkStatus::kBudgetSpent) {
      complete_ = status == flv_reader::WalkStatus::kEndOfData ||
                  status == flv_reader::WalkStatus::kNotFlv ||
                  status == flv_reader::WalkStatus::kReadError;
      if (complete_) sizeAtEnd_ = size;
      return complete_;
    }
    if (toMedia && walker_.MediaSeen()) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

bool FlvWatch::Grew() const { return complete_ && source_.Size() > sizeAtEnd_; }
