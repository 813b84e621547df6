#pragma once

#include "engine/engine.h"

// Which of the frames the engine offers are drawn. A frame is the file in
// hand's only once the engine has started on it and decoded something new
// for it: until then what the engine holds, however newly it hands it over,
// is the file before's last picture, which must never show as this one's.
class FrameGate {
 public:
  enum class Verdict {
    kNothing,      // nothing to do
    kSkip,         // take it without drawing; the picture stays
    kSkipAndHide,  // take it without drawing, and show no picture
    kHide,         // show no picture
    kRender,       // draw it
  };

  // The engine started on the file in hand: nothing is fresh, none counted.
  void NewFile();
  // A new address, or a stop: nothing the engine holds is to be shown.
  void Forget() { fresh_ = false; }
  // Whether the engine's video output is set up.
  void SetPictureOut(bool out) { pictureOut_ = out; }

  // Takes note of what the engine offers (`force`: the current frame is to
  // be drawn again, for a new layout) and says what to do with it.
  // `engineOnIt`: the engine is on the file in hand, not the one before.
  Verdict Admit(engine::Engine::Waiting waiting, bool force, bool engineOnIt);

  // New frames of the file in hand so far.
  int Frames() const { return frames_; }

 private:
  bool fresh_ = false;
  int frames_ = 0;
  bool pictureOut_ = false;
};
