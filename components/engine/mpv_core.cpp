#include "mpv_core.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <QHash>
#include <QPointer>
#include <QSet>
#include <atomic>
#include <clocale>
#include <cstring>
#include <thread>
#include <vector>

#include "engine_options.h"
#include "frame_renderer.h"
#include "local_stream.h"
#include "mpv_library.h"

namespace engine {
namespace {

// The properties the engine reports, by table: what each is called and how
// it is read. The reply id of an observed property is its row plus one.
struct Observed {
  Property property;
  const char* name;
  mpv_format format;
};

constexpr Observed kObserved[] = {
    {Property::kPosition, "time-pos", MPV_FORMAT_DOUBLE},
    {Property::kDuration, "duration", MPV_FORMAT_DOUBLE},
    {Property::kStartTime, "demuxer-start-time", MPV_FORMAT_DOUBLE},
    {Property::kFileFormat, "file-format", MPV_FORMAT_STRING},
    {Property::kPaused, "pause", MPV_FORMAT_FLAG},
    {Property::kEndReached, "eof-reached", MPV_FORMAT_FLAG},
    {Property::kCoreIdle, "core-idle", MPV_FORMAT_FLAG},
    {Property::kNoFile, "idle-active", MPV_FORMAT_FLAG},
    {Property::kPictureOut, "vo-configured", MPV_FORMAT_FLAG},
    {Property::kDisplayWidth, "dwidth", MPV_FORMAT_INT64},
    {Property::kDisplayHeight, "dheight", MPV_FORMAT_INT64},
    {Property::kAlpha, "video-params/alpha", MPV_FORMAT_STRING},
    {Property::kVolume, "volume", MPV_FORMAT_DOUBLE},
    {Property::kMuted, "mute", MPV_FORMAT_FLAG},
    {Property::kPausedForCache, "paused-for-cache", MPV_FORMAT_FLAG},
    {Property::kCacheBuffering, "cache-buffering-state", MPV_FORMAT_INT64},
    {Property::kTracks, "track-list", MPV_FORMAT_NODE},
    // Observed only on request (WatchCache).
    {Property::kBufferedRanges, "demuxer-cache-state", MPV_FORMAT_NODE},
};
constexpr int kAlwaysObserved = int(std::size(kObserved)) - 1;
constexpr quint64 kCacheReplyId = std::size(kObserved);

struct Asked {
  const char* name;
  mpv_format format;
};
Asked QueryProperty(Query query) {
  switch (query) {
    case Query::kPosition:
      return {"time-pos", MPV_FORMAT_DOUBLE};
    case Query::kSampleRate:
      return {"audio-params/samplerate", MPV_FORMAT_INT64};
  }
  return {"time-pos", MPV_FORMAT_DOUBLE};
}

// Flattens alpha onto white before the software renderer, which would
// otherwise drop the alpha channel and show whatever colour hides under it.
// The explicit yuva420p step keeps drawbox off packed RGB input, which
// crashed in FFmpeg 5.1.
constexpr char kFlattenAlphaOntoWhite[] =
    "lavfi=\"format=yuva420p,split[bg][fg];[bg]drawbox=c=white:t=fill:replace=1[w];"
    "[w][fg]overlay=format=yuv420\"";

// --- mpv nodes as typed values. Missing or mistyped fields read as absent:
// the engine's reports vary with the file and the engine version.

const mpv_node* Find(const mpv_node& map, const char* key) {
  if (map.format != MPV_FORMAT_NODE_MAP) return nullptr;
  for (int i = 0; i < map.u.list->num; ++i) {
    if (std::strcmp(map.u.list->keys[i], key) == 0) return &map.u.list->values[i];
  }
  return nullptr;
}

QString String(const mpv_node& map, const char* key) {
  const mpv_node* node = Find(map, key);
  return node && node->format == MPV_FORMAT_STRING ? QString::fromUtf8(node->u.string) : QString();
}

bool Flag(const mpv_node& map, const char* key) {
  const mpv_node* node = Find(map, key);
  return node && node->format == MPV_FORMAT_FLAG && node->u.flag;
}

double Number(const mpv_node& map, const char* key) {
  const mpv_node* node = Find(map, key);
  if (!node) return 0;
  if (node->format == MPV_FORMAT_INT64) return double(node->u.int64);
  if (node->format == MPV_FORMAT_DOUBLE) return node->u.double_;
  return 0;
}

QString Describe(const mpv_node& track, bool audio) {
  const QString codec = String(track, "codec");
  // A codec the demuxer cannot name has no parameters worth showing either.
  if (codec.isEmpty()) return QStringLiteral("unsupported codec");
  if (audio) {
    const double rate = Number(track, "demux-samplerate");
    return rate > 0 ? QStringLiteral("%1, %2 kHz").arg(codec).arg(rate / 1000) : codec;
  }
  const qint64 width = qint64(Number(track, "demux-w"));
  const qint64 height = qint64(Number(track, "demux-h"));
  return width > 0 && height > 0 ? QStringLiteral("%1, %2x%3").arg(codec).arg(width).arg(height)
                                 : codec;
}

stream_facts::Tracks ReadTracks(const mpv_node& list) {
  stream_facts::Tracks tracks;
  if (list.format != MPV_FORMAT_NODE_ARRAY) return tracks;
  for (int i = 0; i < list.u.list->num; ++i) {
    const mpv_node& entry = list.u.list->values[i];
    const QString type = String(entry, "type");
    const bool audio = type == QLatin1String("audio");
    // Cover art is a still image attached to a sound file, not a video.
    const bool video = type == QLatin1String("video") && !Flag(entry, "albumart");
    stream_facts::Track* track = audio ? &tracks.audio : video ? &tracks.video : nullptr;
    if (!track || track->present) continue;
    track->present = true;
    track->selected = Flag(entry, "selected");
    track->description = Describe(entry, audio);
  }
  return tracks;
}

stream_facts::Ranges ReadBufferedRanges(const mpv_node& cacheState) {
  stream_facts::Ranges ranges;
  const mpv_node* list = Find(cacheState, "seekable-ranges");
  if (!list || list->format != MPV_FORMAT_NODE_ARRAY) return ranges;
  for (int i = 0; i < list->u.list->num; ++i) {
    const mpv_node& range = list->u.list->values[i];
    const double start = Number(range, "start");
    const double end = Number(range, "end");
    if (end > start) ranges.append({start, end});
  }
  return ranges;
}

Value Read(Property property, const mpv_event_property& p) {
  if (p.format == MPV_FORMAT_NONE || !p.data) return {};
  switch (p.format) {
    case MPV_FORMAT_DOUBLE:
      return *static_cast<double*>(p.data);
    case MPV_FORMAT_FLAG:
      return *static_cast<int*>(p.data) != 0;
    case MPV_FORMAT_INT64:
      return qint64{*static_cast<int64_t*>(p.data)};
    case MPV_FORMAT_STRING:
      return QString::fromUtf8(*static_cast<char**>(p.data));
    case MPV_FORMAT_NODE: {
      const auto& node = *static_cast<const mpv_node*>(p.data);
      if (property == Property::kTracks) return ReadTracks(node);
      if (property == Property::kBufferedRanges) return ReadBufferedRanges(node);
      return {};
    }
    default:
      return {};
  }
}

EndReason ReasonOf(int reason) {
  switch (reason) {
    case MPV_END_FILE_REASON_EOF:
      return EndReason::kEnded;
    case MPV_END_FILE_REASON_STOP:
      return EndReason::kStopped;
    case MPV_END_FILE_REASON_ERROR:
      return EndReason::kError;
    case MPV_END_FILE_REASON_REDIRECT:
      return EndReason::kRedirect;
    default:
      return EndReason::kOther;
  }
}

// Ends a core on a thread of its own; whatever it waits for, nobody waits
// for it.
void DestroyInBackground(mpv_handle* handle, mpv_render_context* render,
                         std::shared_ptr<LocalStreams> streams) {
  std::thread([handle, render, streams] {
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
    for (const engine_options::Option& option : engine_options::ForPlayer(settings)) {
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
    if (!streams_->Register(handle_)) {
      *error = QStringLiteral("the video engine cannot read files through the player");
      return false;
    }
    // Created before any file is loaded: a file loaded without a render
    // context gets no video at all.
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

    mpv_request_log_messages(handle_, "error");
    for (int i = 0; i < kAlwaysObserved; ++i) {
      mpv_observe_property(handle_, quint64(i + 1), kObserved[i].name, kObserved[i].format);
    }
    mpv_set_wakeup_callback(handle_, &MpvCore::OnWakeup, this);
    mpv_render_context_set_update_callback(render_, &MpvCore::OnRenderUpdate, this);
    return true;
  }

  void SetListener(Listener* listener) override { listener_ = listener; }

  quint64 Load(const LoadRequest& request) override {
    const engine_options::FileOptions options = engine_options::ForFile(request);
    SetProperty("demuxer-lavf-format", options.demuxerFormat);
    SetMap("demuxer-lavf-o", options.demuxerOptions);
    SetMap("stream-lavf-o", options.streamOptions);
    const QByteArray target = request.source == LoadRequest::Source::kLocalFile
                                  ? streams_->Add(request.file, request.patches)
                                  : request.url.toUtf8();
    // keep-open leaves the engine paused at the end of the file before.
    SetProperty("pause", "no");
    const quint64 token = ++lastToken_;
    loads_.insert(token);
    Command({"loadfile", target, "replace"}, token);
    return token;
  }

  void Stop() override { Command({"stop"}); }
  void SetPaused(bool paused) override { SetProperty("pause", paused ? "yes" : "no"); }
  void SeekTo(double seconds) override {
    Command({"seek", QByteArray::number(seconds, 'f', 6), "absolute+exact"});
  }
  void SeekBy(double seconds) override {
    Command({"seek", QByteArray::number(seconds, 'f', 6), "relative+exact"});
  }
  void SetVolume(double percent) override {
    SetProperty("volume", QByteArray::number(percent, 'f', 3));
  }
  void SetMuted(bool muted) override { SetProperty("mute", muted ? "yes" : "no"); }
  void SetAudioOutput(const QByteArray& driver) override { SetProperty("ao", driver); }
  void SetFlattenAlpha(bool on) override { SetProperty("vf", on ? kFlattenAlphaOntoWhite : ""); }

  void WatchCache(bool on) override {
    if (on) {
      const Observed& cache = kObserved[kCacheReplyId - 1];
      mpv_observe_property(handle_, kCacheReplyId, cache.name, cache.format);
    } else {
      mpv_unobserve_property(handle_, kCacheReplyId);
    }
  }

  void SetDetailedLog(bool on) override {
    mpv_request_log_messages(handle_, on ? "trace" : "error");
  }

  quint64 Ask(Query query) override {
    const quint64 token = ++lastToken_;
    questions_.insert(token, query);
    const Asked asked = QueryProperty(query);
    mpv_get_property_async(handle_, token, asked.name, asked.format);
    return token;
  }

  Waiting PollFrame() override {
    switch (renderer_->Poll()) {
      case FrameRenderer::Waiting::kNewFrame:
        return Waiting::kNewFrame;
      case FrameRenderer::Waiting::kRedraw:
        return Waiting::kRedraw;
      case FrameRenderer::Waiting::kNothing:
        break;
    }
    return Waiting::kNothing;
  }
  bool RenderFrame(QSize size, qreal devicePixelRatio) override {
    return renderer_->Render(size, devicePixelRatio);
  }
  void SkipFrame() override { renderer_->Skip(); }
  const QImage& Picture() const override { return renderer_->Picture(); }

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
    DestroyInBackground(std::exchange(handle_, nullptr), std::exchange(render_, nullptr), streams_);
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
      Deliver(*event);
    }
    return !alive.isNull();
  }

  void Deliver(const mpv_event& event) {
    switch (event.event_id) {
      case MPV_EVENT_PROPERTY_CHANGE: {
        const quint64 row = event.reply_userdata;
        if (row < 1 || row > std::size(kObserved)) break;
        const Property property = kObserved[row - 1].property;
        listener_->OnProperty(property,
                              Read(property, *static_cast<mpv_event_property*>(event.data)));
        break;
      }
      case MPV_EVENT_COMMAND_REPLY: {
        if (!loads_.remove(event.reply_userdata)) break;
        qint64 entry = 0;
        const mpv_node& result = static_cast<const mpv_event_command*>(event.data)->result;
        if (const mpv_node* id = Find(result, "playlist_entry_id");
            id && id->format == MPV_FORMAT_INT64) {
          entry = id->u.int64;
        }
        listener_->OnLoadReply(
            event.reply_userdata, entry,
            event.error < 0 ? QLatin1String(mpv_error_string(event.error)) : QString());
        break;
      }
      case MPV_EVENT_GET_PROPERTY_REPLY: {
        const auto asked = questions_.find(event.reply_userdata);
        if (asked == questions_.end()) break;
        const Query query = asked.value();
        questions_.erase(asked);
        const Value value = event.error < 0 ? Value{}
                                            : Read(Property::kPosition,
                                                   *static_cast<mpv_event_property*>(event.data));
        listener_->OnAnswer(event.reply_userdata, query, value);
        break;
      }
      case MPV_EVENT_START_FILE:
        listener_->OnFileStarted(
            static_cast<const mpv_event_start_file*>(event.data)->playlist_entry_id);
        break;
      case MPV_EVENT_FILE_LOADED:
        listener_->OnFileLoaded();
        break;
      case MPV_EVENT_END_FILE: {
        const auto& end = *static_cast<const mpv_event_end_file*>(event.data);
        FileEnd ended;
        ended.entry = end.playlist_entry_id;
        ended.reason = ReasonOf(end.reason);
        if (end.reason == MPV_END_FILE_REASON_ERROR) {
          ended.error = QLatin1String(mpv_error_string(end.error));
        }
        if (end.reason == MPV_END_FILE_REASON_REDIRECT && end.playlist_insert_num_entries > 0) {
          ended.redirectedTo = end.playlist_insert_id;
        }
        listener_->OnFileEnded(ended);
        break;
      }
      case MPV_EVENT_LOG_MESSAGE: {
        const auto& log = *static_cast<const mpv_event_log_message*>(event.data);
        listener_->OnLog({QByteArray(log.prefix), QString::fromUtf8(log.text),
                          log.log_level <= MPV_LOG_LEVEL_ERROR});
        break;
      }
      case MPV_EVENT_SEEK:
        listener_->OnSeekStarted();
        break;
      case MPV_EVENT_PLAYBACK_RESTART:
        listener_->OnPlaybackRestarted();
        break;
      default:
        break;
    }
  }

  mpv_handle* handle_ = nullptr;
  mpv_render_context* render_ = nullptr;
  std::unique_ptr<FrameRenderer> renderer_;
  // Shared with the thread that ends an abandoned core: the engine may read
  // through it until then.
  std::shared_ptr<LocalStreams> streams_ = std::make_shared<LocalStreams>();
  Listener* listener_ = nullptr;
  quint64 lastToken_ = 0;
  QSet<quint64> loads_;
  QHash<quint64, Query> questions_;
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
