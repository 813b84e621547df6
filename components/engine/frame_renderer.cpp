#include "frame_renderer.h"

#include <mpv/render.h>

#include <cstdlib>

namespace {

// Frames this large are not a real player area; refusing them keeps an
// absurd widget size from exhausting memory.
constexpr qint64 kMaxFrameBytes = qint64{256} * 1024 * 1024;

}  // namespace

void FrameRenderer::Free::operator()(uchar* p) const { std::free(p); }

FrameRenderer::Waiting FrameRenderer::Poll() const {
  if (!(mpv_render_context_update(context_) & MPV_RENDER_UPDATE_FRAME)) return Waiting::kNothing;
  mpv_render_frame_info info{};
  mpv_render_param param{MPV_RENDER_PARAM_NEXT_FRAME_INFO, &info};
  const bool redraw = mpv_render_context_get_info(context_, param) >= 0 &&
                      (info.flags & MPV_RENDER_FRAME_INFO_REDRAW);
  return redraw ? Waiting::kRedraw : Waiting::kNewFrame;
}

// Memory that mpv can write with aligned SIMD stores: an unaligned target
// makes it render into a copy first.
bool FrameRenderer::Resize(QSize size) {
  if (image_.size() == size) return !image_.isNull();
  image_ = QImage();
  pixels_.reset();
  const qsizetype stride = (qsizetype{size.width()} * 4 + 63) & ~qsizetype{63};
  const qint64 bytes = qint64{stride} * size.height();
  if (size.isEmpty() || bytes > kMaxFrameBytes) return false;
  pixels_.reset(static_cast<uchar*>(std::aligned_alloc(64, static_cast<size_t>(bytes))));
  if (!pixels_) return false;
  image_ = QImage(pixels_.get(), size.width(), size.height(), stride, QImage::Format_RGB32);
  return true;
}

bool FrameRenderer::Render(QSize size, qreal devicePixelRatio) {
  if (!Resize(size)) {
    Skip();
    return false;
  }
  int wh[2] = {image_.width(), image_.height()};
  size_t stride = static_cast<size_t>(image_.bytesPerLine());
  // QImage::Format_RGB32 is 0xffRRGGBB in native words. Asking for the
  // alpha byte too has mpv write the 0xff there while it converts, so no
  // second pass over every frame has to set it.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
  char format[] = "bgra";
#else
  char format[] = "argb";
#endif
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_SW_SIZE, wh},        {MPV_RENDER_PARAM_SW_FORMAT, format},
      {MPV_RENDER_PARAM_SW_STRIDE, &stride}, {MPV_RENDER_PARAM_SW_POINTER, image_.bits()},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  mpv_render_context_render(context_, params);
  image_.setDevicePixelRatio(devicePixelRatio);
  return true;
}

void FrameRenderer::Skip() {
  int skip = 1;
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  mpv_render_context_render(context_, params);
}
