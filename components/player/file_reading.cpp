#include "player/file_reading.h"

#include <chrono>

#include "base/off_thread.h"

namespace {

// A slice of the walk: short enough that stopping never waits long, long
// enough for a few hundred megabytes.
constexpr auto kSlice = std::chrono::milliseconds(200);

struct Slice {
  flv_reader::Facts facts;
  bool complete = false;
};

}  // namespace

FileReading::FileReading(QObject* parent) : QObject(parent) {
  growthTimer_.setInterval(500);
  connect(&growthTimer_, &QTimer::timeout, this, [this] {
    if (!watch_ || walking_) return;
    if (watch_->Grew()) {
      sinceGrowth_.start();
      SetGrowing(true);
      WalkOn();
    } else if (growing_ && sinceGrowth_.elapsed() > kStillWrittenMs) {
      SetGrowing(false);
    }
  });
}

FileReading::~FileReading() { Follow(nullptr); }

void FileReading::Follow(std::shared_ptr<FlvWatch> watch) {
  if (cancel_) cancel_->store(true);
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  watch_ = std::move(watch);
  walking_ = false;
  growthTimer_.stop();
  SetGrowing(false);
  if (!watch_) return;
  growthTimer_.start();
  if (!watch_->Complete()) WalkOn();
}

void FileReading::SetGrowing(bool growing) {
  if (growing == growing_) return;
  growing_ = growing;
  emit growingChanged(growing);
}

void FileReading::WalkOn() {
  walking_ = true;
  // The job keeps the watch alive: a file given up on while a slice runs is
  // finished with there.
  const std::shared_ptr<FlvWatch> watch = watch_;
  const std::shared_ptr<std::atomic<bool>> cancel = cancel_;
  off_thread::WhenDone(
      this, off_thread::Run([watch, cancel] {
        Slice slice;
        slice.complete = watch->WalkFor(kSlice, cancel.get());
        if (!cancel->load()) slice.facts = watch->Facts();
        return slice;
      }),
      [this, cancel](const Slice& slice) {
        if (cancel != cancel_ || cancel->load()) return;
        walking_ = false;
        emit factsChanged(slice.facts);
        if (!slice.complete) WalkOn();
      },
      Slice{});
}
