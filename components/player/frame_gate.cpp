#include "player/frame_gate.h"

void FrameGate::NewFile() {
  fresh_ = false;
  frames_ = 0;
}

FrameGate::Verdict FrameGate::Admit(engine::Engine::Waiting waiting, bool force, bool engineOnIt) {
  using Waiting = engine::Engine::Waiting;
  const bool newFrame = waiting != Waiting::kNothing;
  if (!newFrame && !force) return Verdict::kNothing;
  // Stopped, failed, or the engine still on the file before: whatever it
  // hands over belongs to no file that is playing.
  if (!engineOnIt) return newFrame ? Verdict::kSkipAndHide : Verdict::kHide;
  if (waiting == Waiting::kNewFrame) {
    fresh_ = true;
    ++frames_;
  } else if (!fresh_) {
    // A redraw, or a repaint of the area, asks again for the previous
    // file's last picture.
    return waiting == Waiting::kRedraw ? Verdict::kSkip : Verdict::kHide;
  }
  if (!pictureOut_) return newFrame ? Verdict::kSkipAndHide : Verdict::kHide;
  return Verdict::kRender;
}
