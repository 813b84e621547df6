#include "engine/mpv_core.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <QHash>
#include <QPointer>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <thread>
#include <vector>

#include "engine/engine_options.h"
#include "engine/http_stream.h"
#include "engine/local_stream.h"
#include "engine/mpv_events.h"
#include "engine/mpv_library.h"

namespace engine {
namespace {

// Frames this large are not a real player area; refusing them keeps an
// absurd widget size from exhausting memory.
constexpr qint64 kMaxFrameBytes = qint64{256} * 1024 * 1024;

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
  using Waiting = Engine::Waiting;
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

// Ends a core on a thread of its own; whatever it waits for, nobody waits
// for it.
void DestroyInBackground(mpv_handle* handle, mpv_render_context* render,
                         std::shared_ptr<LocalStreams> streams,
                         std::shared_ptr<HttpStreams> httpStreams) {
  std::thread([handle, render, streams, httpStreams] {
    if (render) mpv_render_context_free(render);
    if (handle) mpv_terminate_destroy(handle);
  }).detach();
}

class MpvCore : public Engine {
 public:
  ~MpvCore() override {
    // Clearing a callback waits for a running call of it to finish, so after
    // these lines nothing can post to this object any more.
    if (handle_) mpv_set_wakeup_callback(handle_, nullptr, nullptr);
    renderer_.reset();
    if (render_) {
      mpv_render_context_set_update_callback(render_, nullptr, nullptr);
      mpv_render_context_free(render_);
    }
    if (handle_) mpv_terminate_destroy(handle_);
  }

  bool Start(const Settings& settings, QString* error) {
    // libmpv refuses to start under a locale that writes numbers with a
    // decimal comma, and QApplication has installed the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    if (!mpv_library::Available()) {
      *error =
          QStringLiteral("the video engine could not be loaded (%1)").arg(mpv_library::Error());
      return false;
    }
    handle_ = mpv_create();
    if (!handle_) {
      *error = QStringLiteral("the video engine could not be created");
      return false;
    }
    preview_ = settings.purpose == Settings::Purpose::kPreview;
    const QList<engine_options::Option> options =
        preview_ ? engine_options::ForPreview() : engine_options::ForPlayer(settings);
    for (const engine_options::Option& option : options) {
      const int rc = mpv_set_option_string(handle_, option.name, option.value.constData());
      if (rc >= 0 || (!option.required && rc == MPV_ERROR_OPTION_NOT_FOUND)) continue;
      *error = QStringLiteral("the video engine refused its option \"%1\" (%2)")
                   .arg(QLatin1String(option.name), QLatin1String(mpv_error_string(rc)));
      return false;
    }
    if (const int rc = mpv_initialize(handle_); rc < 0) {
      *error = QStringLiteral("the video engine could not start (%1)")
                   .arg(QLatin1String(mpv_error_string(rc)));
      return false;
    }
    if (!streams_->Register(handle_) || !httpStreams_->Register(handle_)) {
      *error = QStringLiteral("the video engine cannot read files through the player");
      return false;
    }
    if (!preview_ && !StartRenderer(error)) return false;

    mpv_request_log_messages(handle_, "error");
    mpv_events::ObserveAll(handle_);
    mpv_set_wakeup_callback(handle_, &MpvCore::OnWakeup, this);
    if (render_) mpv_render_context_set_update_callback(render_, &MpvCore::OnRenderUpdate, this);
    return true;
  }

  // Created before any file is loaded: a file loaded without a render
  // context gets no video at all.
  bool StartRenderer(QString* error) {
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (const int rc = mpv_render_context_create(&render_, handle_, params); rc < 0) {
      render_ = nullptr;
      *error = QStringLiteral("the video renderer could not start (%1)")
                   .arg(QLatin1String(mpv_error_string(rc)));
      return false;
    }
    renderer_ = std::make_unique<FrameRenderer>(render_);
    return true;
  }

  void SetListener(Listener* listener) override { listener_ = listener; }

  quint64 Load(const LoadRequest& request) override {
    const engine_options::FileOptions options = engine_options::ForFile(request);
    SetProperty("demuxer", options.demuxer);
    SetProperty("demuxer-lavf-format", options.demuxerFormat);
    SetMap("demuxer-lavf-o", options.demuxerOptions);
    SetMap("stream-lavf-o", options.streamOptions);
    SetSeekLead(0);
    // The engine reads ahead of a network stream into its cache, and says
    // what it holds, only where it knows the stream is one: an http(s)
    // connection the player hands over is.
    if (!preview_) {
      SetProperty("cache", request.source == LoadRequest::Source::kHttp ? "yes" : "auto");
    }
    QByteArray target;
    if (request.source == LoadRequest::Source::kLocalFile) {
      target = request.matroska ? streams_->Add(request.file, request.matroska)
                                : streams_->Add(request.file, request.patches, request.prefix,
                                                request.realStart, request.cuts, request.end);
    } else if (request.source == LoadRequest::Source::kHttp) {
      // Through the player's client either way: the engine is never handed
      // the address itself.
      const bool modern = request.format == LoadRequest::Format::kFlvModern;
      target = request.http ? httpStreams_->Add(request.http, modern)
                            : httpStreams_->Add(request.url.toStdString(), modern);
    } else {
      target = request.url.toUtf8();
    }
    // keep-open leaves the engine paused at the end of the file before; a
    // preview engine stays paused for good.
    SetProperty("pause", preview_ ? "yes" : "no");
    const quint64 token = ++lastToken_;
    pending_.loads.insert(token);
    Command({"loadfile", target, "replace"}, token);
    return token;
  }

  void Stop() override { Command({"stop"}); }
  void SetPaused(bool paused) override { SetProperty("pause", paused ? "yes" : "no"); }
  void SeekTo(double seconds) override {
    // The engine counts a negative absolute target from the end: a target
    // before the first timestamp (a file whose first frame is shown later
    // than its first tag says) means its start.
    seconds = std::max(seconds, 0.0);
    Command({"seek", QByteArray::number(seconds, 'f', 6), "absolute+exact"});
  }
  void SetSeekLead(double seconds) override {
    SetProperty("hr-seek-demuxer-offset", QByteArray::number(seconds, 'f', 3));
  }
  void SeekBy(double seconds) override {
    Command({"seek", QByteArray::number(seconds, 'f', 6), "relative+exact"});
  }
  void SeekToKeyframe(double seconds) override {
    seconds = std::max(seconds, 0.0);
    Command({"seek", QByteArray::number(seconds, 'f', 6), "absolute+keyframes"});
  }
  void StepFrame(bool forward) override {
    Command({forward ? QByteArray("frame-step") : QByteArray("frame-back-step")});
  }
  void SetSpeed(double factor) override {
    SetProperty("speed", QByteArray::number(factor, 'f', 6));
  }
  void SetVolume(double percent) override {
    SetProperty("volume", QByteArray::number(percent, 'f', 3));
  }
  void SetMuted(bool muted) override { SetProperty("mute", muted ? "yes" : "no"); }
  void SetAudioOutput(const QByteArray& driver) override { SetProperty("ao", driver); }
  void SetFlattenAlpha(bool on) override {
    SetProperty("vf", on ? engine_options::kFlattenAlphaOntoWhite : "");
  }

  void WatchCache(bool on) override { mpv_events::ObserveCache(handle_, on); }

  void SetDetailedLog(bool on) override {
    mpv_request_log_messages(handle_, on ? "trace" : "error");
  }

  quint64 Ask(Query query) override {
    const quint64 token = ++lastToken_;
    mpv_events::Ask(handle_, token, query, pending_);
    return token;
  }

  quint64 GrabPicture() override {
    const quint64 token = ++lastToken_;
    mpv_events::GrabPicture(handle_, token, pending_);
    return token;
  }

  Waiting PollFrame() override { return renderer_ ? renderer_->Poll() : Waiting::kNothing; }
  bool RenderFrame(QSize size, qreal devicePixelRatio) override {
    return renderer_ && renderer_->Render(size, devicePixelRatio);
  }
  void SkipFrame() override {
    if (renderer_) renderer_->Skip();
  }
  const QImage& Picture() const override {
    static const QImage kNone;
    return renderer_ ? renderer_->Picture() : kNone;
  }

  QString Inspect(const char* name) const override {
    char* value = mpv_get_property_string(handle_, name);
    const QString text = QString::fromUtf8(value);
    mpv_free(value);
    return text;
  }

 protected:
  void LetGo() override {
    if (handle_) mpv_set_wakeup_callback(handle_, nullptr, nullptr);
    renderer_.reset();
    if (render_) mpv_render_context_set_update_callback(render_, nullptr, nullptr);
    DestroyInBackground(std::exchange(handle_, nullptr), std::exchange(render_, nullptr), streams_,
                        httpStreams_);
    listener_ = nullptr;
  }

 private:
  void Command(const QList<QByteArray>& args, quint64 replyId = 0) {
    std::vector<const char*> argv;
    argv.reserve(args.size() + 1);
    for (const QByteArray& arg : args) argv.push_back(arg.constData());
    argv.push_back(nullptr);
    mpv_command_async(handle_, replyId, argv.data());
  }

  void SetProperty(const char* name, const QByteArray& value) {
    const char* data = value.constData();
    mpv_set_property_async(handle_, 0, name, MPV_FORMAT_STRING, &data);
  }

  // A key-value option as a node map: no value needs quoting or escaping.
  void SetMap(const char* name, const engine_options::KeyValues& values) {
    std::vector<char*> keys;
    std::vector<mpv_node> nodes;
    for (const auto& [key, value] : values) {
      keys.push_back(const_cast<char*>(key.constData()));
      mpv_node node{};
      node.format = MPV_FORMAT_STRING;
      node.u.string = const_cast<char*>(value.constData());
      nodes.push_back(node);
    }
    mpv_node_list list{int(values.size()), nodes.data(), keys.data()};
    mpv_node map{};
    map.format = MPV_FORMAT_NODE_MAP;
    map.u.list = &list;
    // The asynchronous call copies the node before it returns.
    mpv_set_property_async(handle_, 0, name, MPV_FORMAT_NODE, &map);
  }

  static void OnWakeup(void* self) {
    auto* core = static_cast<MpvCore*>(self);
    if (core->wakeupQueued_.exchange(true)) return;
    QMetaObject::invokeMethod(
        core,
        [core] {
          core->wakeupQueued_ = false;
          core->Drain();
        },
        Qt::QueuedConnection);
  }

  static void OnRenderUpdate(void* self) {
    auto* core = static_cast<MpvCore*>(self);
    if (core->updateQueued_.exchange(true)) return;
    QMetaObject::invokeMethod(
        core,
        [core] {
          core->updateQueued_ = false;
          // The frame may come with a new video size still waiting in the
          // event queue: the listener lays out with it, not the old one.
          if (core->Drain() && core->listener_) core->listener_->OnFrameReady();
        },
        Qt::QueuedConnection);
  }

  // Hands every queued event to the listener. False if the engine was
  // destroyed meanwhile.
  bool Drain() {
    QPointer<MpvCore> alive(this);
    while (alive && handle_ && listener_) {
      const mpv_event* event = mpv_wait_event(handle_, 0);
      if (event->event_id == MPV_EVENT_NONE) break;
      mpv_events::Deliver(*event, pending_, *listener_);
    }
    return !alive.isNull();
  }

  mpv_handle* handle_ = nullptr;
  bool preview_ = false;
  mpv_render_context* render_ = nullptr;
  std::unique_ptr<FrameRenderer> renderer_;
  // Shared with the thread that ends an abandoned core: the engine may read
  // through it until then.
  std::shared_ptr<LocalStreams> streams_ = std::make_shared<LocalStreams>();
  std::shared_ptr<HttpStreams> httpStreams_ = std::make_shared<HttpStreams>();
  Listener* listener_ = nullptr;
  quint64 lastToken_ = 0;
  mpv_events::Pending pending_;
  // Set while a hop to the GUI thread is queued, so bursts of callbacks turn
  // into one call.
  std::atomic<bool> wakeupQueued_{false};
  std::atomic<bool> updateQueued_{false};
};

}  // namespace

std::unique_ptr<Engine> StartMpv(const Settings& settings, QString* error) {
  auto core = std::make_unique<MpvCore>();
  if (!core->Start(settings, error)) return nullptr;
  return core;
}

}  // namespace engine
