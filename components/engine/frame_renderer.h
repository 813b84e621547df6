#pragma once

#include <QImage>
#include <QSize>
#include <memory>

struct mpv_render_context;

// Turns the engine's video frames into a picture: mpv's software renderer
// converts each frame straight into the memory a QImage views, in the pixel
// format of the window's backing store, so painting it is a plain copy.
//
// The engine waits for every frame it hands over to be taken, so each one
// must be rendered or skipped.
class FrameRenderer {
 public:
  explicit FrameRenderer(mpv_render_context* context) : context_(context) {}

  // What the engine has waiting: nothing, a newly decoded frame, or a redraw
  // of the frame it holds (after unpausing, say).
  enum class Waiting { kNothing, kNewFrame, kRedraw };
  Waiting Poll() const;

  // Renders the waiting frame, or the one held, at `size` (device pixels)
  // for a screen of `devicePixelRatio`. False when memory for that size
  // cannot be had; the frame is skipped then.
  bool Render(QSize size, qreal devicePixelRatio);
  // Takes the waiting frame without drawing it.
  void Skip();

  // The last rendered picture, opaque RGB32.
  const QImage& Picture() const { return image_; }

 private:
  bool Resize(QSize size);

  mpv_render_context* context_;
  struct Free {
    void operator()(uchar* p) const;
  };
  std::unique_ptr<uchar, Free> pixels_;  // declared first: outlives the image viewing it
  QImage image_;
};
