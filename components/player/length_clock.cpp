#include "player/length_clock.h"

#include <algorithm>
#include <cmath>

#include "media/flv/facts.h"

void LengthClock::Reset(bool network) {
  *this = LengthClock{};
  network_ = network;
}

void LengthClock::ForgetEngine() {
  engineDuration_ = 0;
  startTime_ = 0;
  isFlv_ = false;
  lengthUnknown_ = false;
}

void LengthClock::SetReading(bool known, double origin, double length) {
  haveReading_ = known;
  readingOrigin_ = known ? origin : 0;
  readingLength_ = known ? length : 0;
}

void LengthClock::SetSeekLead(double lead, double firstKeyframe) {
  seekLead_ = lead;
  firstKeyframe_ = firstKeyframe;
}

void LengthClock::SetEngineStart(double startTime) { startTime_ = startTime; }

void LengthClock::SetEngineFormat(bool flv) { isFlv_ = flv; }

void LengthClock::SetEngineDuration(double reported, bool open) {
  // A network stream with no length in its header reports as its length the
  // newest time received so far, growing as data comes: it has none. (A
  // length corrected once, say when the first timestamp turns out late, is
  // no growth; and a server that handed over the file's end has a file.)
  if (network_ && open && engineDuration_ > 0 && reported > engineDuration_ && tailEnd_ < 0) {
    lengthUnknown_ = true;
  }
  engineDuration_ = reported;
}

void LengthClock::SetTailEnd(double seconds) {
  tailEnd_ = seconds;
  // Its end was read: a file, however its length grew while the engine read.
  lengthUnknown_ = false;
}

LengthClock::Length LengthClock::Current(bool open) const {
  if (haveReading_) return {readingLength_, false, Source::kReading};
  if (network_ && lengthUnknown_) return {0, true, Source::kNone};
  // The engine's FLV reader counts its length from 0 whatever the first
  // timestamp; the player counts from the first frame.
  const double engine = isFlv_ && startTime_ > 0 && startTime_ < engineDuration_
                            ? engineDuration_ - startTime_
                            : engineDuration_;
  // The engine takes onMetaData's word, and a recorder that never went back
  // to fill it in leaves 0 there, or nonsense. Close enough is left alone:
  // the tail's last timestamp is where the last frame starts, not ends.
  // Until the engine has opened the file its first timestamp may still be
  // the file before's.
  if (network_ && tailEnd_ >= 0 && open) {
    const double measured = tailEnd_ - startTime_;
    const bool engineWrong = !(engine > 0) || flv_reader::AbsurdDuration(engine) ||
                             std::abs(engine - measured) > std::max(1.0, 0.05 * measured);
    if (measured > 0 && engineWrong) return {measured, false, Source::kTail};
  }
  return {engine, false, engine > 0 ? Source::kEngine : Source::kNone};
}

double LengthClock::Origin() const {
  // Without a reading of its own, the clock starts where the engine's does.
  return haveReading_ ? readingOrigin_ : startTime_;
}

double LengthClock::FromEngine(double engineSeconds) const {
  // The two differ when, say, a B-frame's presentation time comes after its
  // tag's.
  return std::max(engineSeconds + startTime_ - Origin(), 0.0);
}

double LengthClock::ToEngine(double seconds) const {
  return std::max(seconds, 0.0) + Origin() - startTime_;
}

LengthClock::Seek LengthClock::SeekFor(double seconds) const {
  // On the file's own clock first: that is where its keyframes are.
  double target = std::max(seconds, 0.0) + Origin();
  Seek seek;
  if (seekLead_ > 0) {
    // Before the first keyframe the index has nothing to land on; and the
    // lead must not reach back past it either.
    target = std::max(target, firstKeyframe_);
    seek.lead = std::min(seekLead_, target - firstKeyframe_);
  }
  seek.target = target - startTime_;
  return seek;
}
