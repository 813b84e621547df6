#include "mpv_player.h"

#include <mpv/client.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QHash>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTextOption>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "engine_options.h"
#include "frame_renderer.h"
#include "local_media.h"
#include "media_address.h"
#include "movie.h"
#include "mpv_engine.h"
#include "off_thread.h"
#include "picture_layout.h"
#include "player_overlay.h"
#include "stream_info.h"
#include "twips.h"

namespace {

// Reply tags: the upper half says which request a reply belongs to, the lower
// half which load it was.
constexpr quint64 kLoadReply = quint64{1} << 32;
constexpr quint64 kSoundReply = quint64{2} << 32;
constexpr quint64 kSeekReply = quint64{3} << 32;

enum Observed : quint64 {
  kTimePos = 1,
  kDuration,
  kPause,
  kEofReached,
  kCoreIdle,
  kVoConfigured,
  kDisplayWidth,
  kDisplayHeight,
  kAlpha,
  kVolume,
  kIdleActive,
  kStartTime,
  kFileFormat,
  kMute,
  kPausedForCache,
  kCacheBuffering,
  kCacheState,
  kTrackList,
};

// Playlist entry ids are positive; these mark the states around them.
constexpr qint64 kNoEntry = -1;     // nothing requested, or stopped
constexpr qint64 kAwaitReply = -2;  // loadfile sent, its entry id not known yet
constexpr qint64 kAnyEntry = -3;    // an engine that does not report entry ids
constexpr qint64 kAwaitCheck = -4;  // a local file is being checked before loadfile

// Flattens alpha onto white before the software renderer, which would
// otherwise drop the alpha channel and show whatever colour hides under it.
// The explicit yuva420p step keeps drawbox off packed RGB input, which
// crashed in FFmpeg 5.1.
constexpr char kFlattenAlphaOntoWhite[] =
    "lavfi=\"format=yuva420p,split[bg][fg];[bg]drawbox=c=white:t=fill:replace=1[w];"
    "[w][fg]overlay=format=yuv420\"";

// Pixels in the player area for a size in twips. Never fails: negative and
// NaN sizes give an empty area, absurd ones the largest a widget can have.
int TwipsToPixels(float value, const QWidget* widget) {
  if (std::isnan(value) || value <= 0) return 0;
  const double pixels = std::round(value / twips::PerPixel(widget));
  return static_cast<int>(std::min(pixels, double{QWIDGETSIZE_MAX}));
}

// The part of an engine log line that names the cause: "Cannot open file
// 'x': No such file or directory" gives "No such file or directory".
QString CauseOf(const QString& logLine) {
  QString line = logLine.trimmed();
  // The message adds its own full stop.
  while (line.endsWith(u'.')) line.chop(1);
  const qsizetype colon = line.lastIndexOf(QLatin1String(": "));
  const QString cause = colon < 0 ? line : line.mid(colon + 2);
  return cause.isEmpty() ? line : cause;
}

}  // namespace

struct MpvPlayer::Impl {
  explicit Impl(MpvPlayer* owner) : q(owner) {}

  MpvPlayer* const q;
  float widthTwips = 0;
  float heightTwips = 0;
  QString message;
  QByteArray audioOutput;

  // The movie in layer 0, and its root variables.
  QFutureWatcher<movie::Result>* movieRead = nullptr;
  std::optional<movie::Movie> movie;
  QHash<QString, QString> variables;

  std::unique_ptr<MpvEngine> engine;

  // The file being played.
  quint64 loadGeneration = 0;
  qint64 currentEntry = kNoEntry;
  qint64 startedEntry = kNoEntry;
  QString currentTarget;
  // A local file's check started before its load (CheckEarly).
  QString earlyCheckTarget;
  QFuture<local_media::Findings> earlyCheck;
  // The last address handed to the engine; a local file is checked first.
  QString sentTarget;
  // The engine logs why a file failed to open, but its log lines may arrive
  // after the END_FILE event: the first one found while the file is opening
  // (or has just failed) is kept, and refines the message if it comes late.
  bool collectingCause = false;
  bool loadFailed = false;
  QString loadCause;
  int loadRequests = 0;
  // Started when a network address goes to the engine: a server that never
  // answers leaves no cause in the log, only the time it took.
  QElapsedTimer networkOpen;
  // What the current file has given so far, to tell a file that plays from
  // one that opens and ends without a single decodable frame or sample.
  bool fileOpen = false;
  int framesThisFile = 0;
  // Whether a newly decoded frame has come since the last load or file
  // start. Until then a redraw the engine asks for (after unpausing, say)
  // draws the frame it still holds, which belongs to the file before.
  bool freshFrame = false;

  // Engine state.
  double position = 0;
  double duration = 0;
  // FLV timestamps and durations count from zero even when a file starts
  // later, while the engine's positions count from the first timestamp.
  double engineDuration = 0;
  double startTime = 0;
  bool isFlv = false;
  bool paused = false;
  bool endReached = false;
  bool idle = true;
  bool voConfigured = false;
  QSize videoSize;
  bool alphaFilterOn = false;
  double volume = 100;
  bool hasFile = false;
  // A seek has started and playback has not yet resumed from its target.
  bool seeking = false;
  bool muted = false;

  // Network files only: the wait for data and what is held in memory.
  bool networkTarget = false;
  bool lengthUnknown = false;
  bool watchingCache = false;
  bool pausedForCache = false;
  int cachePercent = 0;
  bool buffering = false;
  int bufferingPercent = 0;
  QList<std::pair<double, double>> bufferedRanges;

  // What the open file holds, and what of it could not be decoded. Decoders
  // are set up while the file opens: until FILE_LOADED nothing is missing.
  stream_info::Tracks tracks;
  bool tracksSettled = false;
  bool audioUndecodable = false;
  bool videoUndecodable = false;
  bool audioOnly = false;
  QString decodeProblem;

  // Controls and indicators over the picture; a child of the widget.
  PlayerOverlay* overlay = nullptr;

  // The picture: the last frame and where it sits, in device pixels.
  std::unique_ptr<FrameRenderer> renderer;  // with the engine
  QRect frameRect;
  bool pictureShown = false;
  int framesRendered = 0;

  void SetMessage(const QString& text) {
    if (text == message) return;
    message = text;
    q->update();
    emit q->messageChanged(message);
  }

  void LoadMovie(const QString& path) {
    earlyCheckTarget.clear();
    earlyCheck = {};
    movie.reset();
    UpdateOpaqueness();
    overlay->SetMovie(nullptr);
    variables.clear();
    SetMessage({});
    Stop();

    // The watcher belongs to the widget, so a read that finishes after the
    // widget is gone (or after a newer LoadMovie) reaches nobody.
    if (movieRead) {
      movieRead->disconnect();
      movieRead->deleteLater();
    }
    movieRead = new QFutureWatcher<movie::Result>(q);
    QObject::connect(movieRead, &QFutureWatcherBase::finished, q, [this, path] {
      const movie::Result result = movieRead->result();
      movieRead->deleteLater();
      movieRead = nullptr;
      ActivateMovie(path, result);
    });
    movieRead->setFuture(
        off_thread::Start<movie::Result>([path] { return movie::ReadFile(path); }));
  }

  void ActivateMovie(const QString& path, const movie::Result& result) {
    if (!result.movie) {
      SetMessage(QStringLiteral("Cannot load movie \"%1\": %2.").arg(path, result.error));
    } else {
      movie = result.movie;
      if (movie->kind == movie::Kind::kPlayer) {
        QString error;
        if (!EnsureEngine(&error)) {
          SetMessage(QStringLiteral("Cannot play videos: %1.").arg(error));
        } else if (const auto uri = variables.constFind(QStringLiteral("myuri"));
                   uri != variables.constEnd()) {
          Play(*uri);
        }
      }
    }
    UpdateOpaqueness();
    q->update();
    overlay->SetMovie(movie ? &*movie : nullptr);
    emit q->movieLoaded();
  }

  // A movie with a background paints every pixel of the area, so the host
  // window need not paint underneath first, for every video frame.
  void UpdateOpaqueness() {
    q->setAttribute(Qt::WA_OpaquePaintEvent, movie && movie->background.has_value());
  }

  bool EnsureEngine(QString* error) {
    if (engine) return true;
    const QList<MpvEngine::Option> options = engine_options::ForPlayer(audioOutput, volume, muted);

    engine = MpvEngine::Start(options, error);
    if (!engine) return false;
    renderer = std::make_unique<FrameRenderer>(engine->renderContext());

    mpv_handle* h = engine->handle();
    mpv_request_log_messages(h, "error");
    mpv_observe_property(h, kTimePos, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(h, kDuration, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(h, kPause, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(h, kEofReached, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(h, kCoreIdle, "core-idle", MPV_FORMAT_FLAG);
    mpv_observe_property(h, kVoConfigured, "vo-configured", MPV_FORMAT_FLAG);
    mpv_observe_property(h, kDisplayWidth, "dwidth", MPV_FORMAT_INT64);
    mpv_observe_property(h, kDisplayHeight, "dheight", MPV_FORMAT_INT64);
    mpv_observe_property(h, kAlpha, "video-params/alpha", MPV_FORMAT_STRING);
    mpv_observe_property(h, kVolume, "volume", MPV_FORMAT_DOUBLE);
    mpv_observe_property(h, kIdleActive, "idle-active", MPV_FORMAT_FLAG);
    mpv_observe_property(h, kMute, "mute", MPV_FORMAT_FLAG);
    mpv_observe_property(h, kPausedForCache, "paused-for-cache", MPV_FORMAT_FLAG);
    mpv_observe_property(h, kCacheBuffering, "cache-buffering-state", MPV_FORMAT_INT64);
    mpv_observe_property(h, kTrackList, "track-list", MPV_FORMAT_NODE);
    mpv_observe_property(h, kStartTime, "demuxer-start-time", MPV_FORMAT_DOUBLE);
    mpv_observe_property(h, kFileFormat, "file-format", MPV_FORMAT_STRING);

    QObject::connect(engine.get(), &MpvEngine::eventsPending, q, [this] { DrainEvents(); });
    QObject::connect(engine.get(), &MpvEngine::frameReady, q, [this] {
      // The frame may come with a new video size that is still waiting in
      // the event queue; lay out with it, not with the old one.
      if (DrainEvents()) RenderFrame(false);
    });
    return true;
  }

  void Play(const QString& address) {
    const media_address::Resolution resolved = media_address::Resolve(address, QDir::currentPath());
    if (!resolved.ok()) {
      Stop();
      SetMessage(QStringLiteral("Cannot play \"%1\": %2.").arg(address, resolved.error));
      return;
    }
    Load(resolved.target);
  }

  // `target` is an address the policy has already accepted and rewritten.
  void Load(const QString& target) {
    SetMessage({});
    HidePicture();
    freshFrame = false;
    const quint64 generation = ++loadGeneration;
    currentTarget = target;
    collectingCause = true;
    loadFailed = false;
    loadCause.clear();
    if (!QDir::isAbsolutePath(target)) {
      SendLoad(generation, {});
      return;
    }
    // Local files are looked at first, off this thread: a pipe or a device
    // would block whoever opens it.
    currentEntry = kAwaitCheck;
    const QFuture<local_media::Findings> check =
        target == std::exchange(earlyCheckTarget, {}) ? earlyCheck : CheckOffThread(target);
    earlyCheck = {};
    off_thread::WhenDone(q, check, [this, generation](const local_media::Findings& findings) {
      // A newer load, or a stop, has taken over meanwhile.
      if (generation != loadGeneration || currentEntry != kAwaitCheck) return;
      if (!findings.error.isEmpty()) {
        Stop();
        ShowLoadFailure(findings.error);
        return;
      }
      SendLoad(generation, findings);
    });
  }

  static QFuture<local_media::Findings> CheckOffThread(const QString& target) {
    return off_thread::Start<local_media::Findings>(
        [target] { return local_media::Inspect(target); });
  }

  // An address that arrives while the player movie is still being read:
  // its file is looked at meanwhile, and the load that follows takes the
  // findings over instead of waiting for a look of its own.
  void CheckEarly(const QString& address) {
    earlyCheckTarget.clear();
    earlyCheck = {};
    const media_address::Resolution resolved = media_address::Resolve(address, QDir::currentPath());
    if (!resolved.ok() || !QDir::isAbsolutePath(resolved.target)) return;
    earlyCheckTarget = resolved.target;
    earlyCheck = CheckOffThread(resolved.target);
  }

  void SendLoad(quint64 generation, const local_media::Findings& findings) {
    currentEntry = kAwaitReply;
    ++loadRequests;
    sentTarget = currentTarget;
    if (QDir::isAbsolutePath(currentTarget)) {
      networkOpen.invalidate();
    } else {
      networkOpen.start();
    }
    // Options for this file only: every load sets them, for or against.
    engine->SetProperty("demuxer-lavf-o",
                        findings.previousTagSizesWrong ? "flv_ignore_prevtag=1" : "");
    // The engine's "live" flavour of its FLV demuxer is the same reader, but
    // tells the engine that timestamps may leap: a video frame more than a
    // few seconds after the one before is then shown at once, where the plain
    // one would hold the picture for the whole leap (up to hours) while the
    // sound played on. Only for files known to be FLV: a forced format would
    // fail any other file.
    engine->SetProperty("demuxer-lavf-format", findings.flv ? "live_flv" : "");
    StartStreams(currentTarget);
    // keep-open leaves the engine paused at the end of the previous file.
    engine->SetProperty("pause", "no");
    engine->Command({"loadfile", QFile::encodeName(currentTarget), "replace"},
                    kLoadReply | (generation & 0xffffffffu));
  }

  void Stop() {
    currentEntry = kNoEntry;
    freshFrame = false;
    collectingCause = false;
    HidePicture();
    if (engine) engine->Command({"stop"});
  }

  void HidePicture() {
    if (!pictureShown) return;
    pictureShown = false;
    q->update();
  }

  bool IsCurrent(qint64 entry) const {
    return currentEntry == kAnyEntry || (currentEntry >= 0 && entry == currentEntry);
  }

  // Handles every queued engine event. Returns false if a signal handler
  // deleted the widget meanwhile.
  bool DrainEvents() {
    QPointer<MpvPlayer> alive(q);
    while (alive && engine) {
      const mpv_event* event = mpv_wait_event(engine->handle(), 0);
      if (event->event_id == MPV_EVENT_NONE) break;
      HandleEvent(*event);
    }
    return !alive.isNull();
  }

  void HandleEvent(const mpv_event& event) {
    switch (event.event_id) {
      case MPV_EVENT_PROPERTY_CHANGE:
        OnProperty(event.reply_userdata, *static_cast<const mpv_event_property*>(event.data));
        break;
      case MPV_EVENT_COMMAND_REPLY:
        if ((event.reply_userdata & ~quint64{0xffffffffu}) == kLoadReply &&
            (event.reply_userdata & 0xffffffffu) == (loadGeneration & 0xffffffffu)) {
          OnLoadReply(event.error, static_cast<const mpv_event_command*>(event.data)->result);
        }
        break;
      case MPV_EVENT_GET_PROPERTY_REPLY:
        if (event.reply_userdata == (kSoundReply | (loadGeneration & 0xffffffffu))) {
          OnSoundReply(event);
        } else if (event.reply_userdata == (kSeekReply | (loadGeneration & 0xffffffffu))) {
          OnSeekReply(event);
        }
        break;
      case MPV_EVENT_START_FILE:
        startedEntry = static_cast<const mpv_event_start_file*>(event.data)->playlist_entry_id;
        seeking = false;
        if (IsCurrent(startedEntry)) {
          // Anything logged before this belongs to the previous file.
          loadCause.clear();
          fileOpen = false;
          framesThisFile = 0;
          freshFrame = false;
        }
        break;
      case MPV_EVENT_FILE_LOADED:
        if (!IsCurrent(startedEntry)) break;
        // Opened: what is logged from now on is about playing, not opening.
        collectingCause = false;
        fileOpen = true;
        tracksSettled = true;
        UpdateStreams();
        emit q->fileLoaded();
        break;
      case MPV_EVENT_END_FILE:
        OnEndFile(*static_cast<const mpv_event_end_file*>(event.data));
        break;
      case MPV_EVENT_LOG_MESSAGE:
        OnLog(*static_cast<const mpv_event_log_message*>(event.data));
        break;
      case MPV_EVENT_SEEK:
        seeking = true;
        break;
      case MPV_EVENT_PLAYBACK_RESTART:
        if (std::exchange(seeking, false)) OnSeeked();
        break;
      default:
        break;
    }
  }

  void OnSeeked() {
    // The observed time-pos may still be on its way; whoever listens for the
    // jump wants the position it landed on. Asked without waiting: a damaged
    // file can keep the engine busy long enough to freeze the window.
    mpv_get_property_async(engine->handle(), kSeekReply | (loadGeneration & 0xffffffffu),
                           "time-pos", MPV_FORMAT_DOUBLE);
  }

  void OnSeekReply(const mpv_event& event) {
    const auto* property = static_cast<const mpv_event_property*>(event.data);
    if (event.error >= 0 && property->format == MPV_FORMAT_DOUBLE) {
      const double landed = *static_cast<double*>(property->data);
      if (std::exchange(position, landed) != landed) emit q->positionChanged(position);
    }
    emit q->seeked(position);
  }

  void OnLoadReply(int error, const mpv_node& result) {
    if (error < 0) {
      currentEntry = kNoEntry;
      collectingCause = false;
      ShowLoadFailure(QLatin1String(mpv_error_string(error)));
      return;
    }
    currentEntry = kAnyEntry;
    if (result.format != MPV_FORMAT_NODE_MAP) return;
    for (int i = 0; i < result.u.list->num; ++i) {
      const mpv_node& value = result.u.list->values[i];
      if (qstrcmp(result.u.list->keys[i], "playlist_entry_id") == 0 &&
          value.format == MPV_FORMAT_INT64) {
        currentEntry = value.u.int64;
      }
    }
  }

  // The per-file stream state, for `target` about to be loaded.
  void StartStreams(const QString& target) {
    // The policy makes every local address an absolute path.
    networkTarget = !QDir::isAbsolutePath(target);
    lengthUnknown = false;
    WatchCache(networkTarget);
    tracks = {};
    tracksSettled = false;
    audioUndecodable = false;
    videoUndecodable = false;
    UpdateStreams();
    UpdateBuffering();
  }

  // The cache report is a large node sent several times a second: asked
  // for only while a network file plays.
  void WatchCache(bool on) {
    if (on == watchingCache) return;
    watchingCache = on;
    if (on) {
      mpv_observe_property(engine->handle(), kCacheState, "demuxer-cache-state", MPV_FORMAT_NODE);
    } else {
      mpv_unobserve_property(engine->handle(), kCacheState);
      SetBufferedRanges({});
    }
  }

  void SetBufferedRanges(const QList<std::pair<double, double>>& ranges) {
    if (ranges == bufferedRanges) return;
    bufferedRanges = ranges;
    emit q->bufferedRangesChanged();
  }

  void UpdateBuffering() {
    const bool now = networkTarget && pausedForCache;
    const int percent = now ? cachePercent : 0;
    if (now == buffering && percent == bufferingPercent) return;
    buffering = now;
    bufferingPercent = percent;
    emit q->bufferingChanged(buffering, bufferingPercent);
  }

  // A stream whose decoder cannot start is left out and the rest plays; mpv
  // says so only in its audio ("ad") or video ("vd") decoder's log.
  bool OnDecoderFailure(const mpv_event_log_message& log) {
    if (!QByteArray(log.text).startsWith("Failed to initialize a decoder")) return false;
    if (qstrcmp(log.prefix, "ad") == 0) {
      audioUndecodable = true;
    } else if (qstrcmp(log.prefix, "vd") == 0) {
      videoUndecodable = true;
    } else {
      return false;
    }
    UpdateStreams();
    return true;
  }

  void UpdateStreams() {
    const auto [soundOnly, problem] =
        stream_info::Judge(tracks, tracksSettled, audioUndecodable, videoUndecodable);
    if (soundOnly != audioOnly) {
      audioOnly = soundOnly;
      q->update();
      emit q->audioOnlyChanged(audioOnly);
    }
    if (problem != decodeProblem) {
      decodeProblem = problem;
      emit q->decodeProblemChanged(decodeProblem);
    }
  }

  void OnLog(const mpv_event_log_message& log) {
    if (OnDecoderFailure(log)) return;
    // Only the parts that open files and streams say why opening failed;
    // demuxer and decoder complaints are usually about the file before.
    static const QList<QByteArray> kOpeners{"file", "stream", "ffmpeg", "cplayer"};
    if (!collectingCause || !loadCause.isEmpty() || !kOpeners.contains(log.prefix)) return;
    loadCause = CauseOf(QString::fromUtf8(log.text));
    if (loadFailed) ShowLoadFailure(FailureCause(MPV_ERROR_LOADING_FAILED));
  }

  QString FailureCause(int error) const {
    // A server that accepts the connection and then says nothing leaves only
    // a generic line in the log; the time it took tells the story.
    const bool generic =
        loadCause.isEmpty() || loadCause.startsWith(QLatin1String("Failed to open"));
    if (generic && networkOpen.isValid() &&
        networkOpen.elapsed() >= (engine_options::kNetworkTimeoutSeconds - 1) * 1000) {
      return QStringLiteral("the server did not answer within %1 seconds")
          .arg(engine_options::kNetworkTimeoutSeconds);
    }
    return loadCause.isEmpty() ? QLatin1String(mpv_error_string(error)) : loadCause;
  }

  void UpdateDuration() {
    const double length = isFlv && startTime > 0 && startTime < engineDuration
                              ? engineDuration - startTime
                              : engineDuration;
    // A network stream with no length in its header reports as its length
    // the newest time received so far, growing as data comes: no length.
    if (networkTarget && tracksSettled && duration > 0 && length != duration) {
      lengthUnknown = true;
    }
    const double known = lengthUnknown ? 0 : length;
    if (std::exchange(duration, known) != duration) emit q->durationChanged(duration);
  }

  // A file that opens and ends without one frame or sample to show for it
  // would leave a bare stage: say so instead. Whether sound was decoded is
  // asked of the engine now: a change notice would miss a file whose sound
  // has the format of the file before. Returns false if the widget was
  // deleted meanwhile.
  bool CheckSomethingPlayed() {
    if (!fileOpen || !IsCurrent(startedEntry)) return true;
    // The last frame may still be waiting to be drawn.
    QPointer<MpvPlayer> alive(q);
    RenderFrame(false);
    if (!alive) return false;
    if (framesThisFile == 0) {
      mpv_get_property_async(engine->handle(), kSoundReply | (loadGeneration & 0xffffffffu),
                             "audio-params/samplerate", MPV_FORMAT_INT64);
    }
    return true;
  }

  void OnSoundReply(const mpv_event& event) {
    const auto* property = static_cast<const mpv_event_property*>(event.data);
    const bool sound = event.error >= 0 && property->format == MPV_FORMAT_INT64 &&
                       *static_cast<int64_t*>(property->data) > 0;
    if (sound || !fileOpen || framesThisFile > 0 || !IsCurrent(startedEntry)) return;
    ShowLoadFailure(QStringLiteral("it holds no picture or sound that could be decoded"));
  }

  void ShowLoadFailure(const QString& cause) {
    SetMessage(QStringLiteral("Cannot play \"%1\": %2.").arg(currentTarget, cause));
  }

  void OnEndFile(const mpv_event_end_file& end) {
    if (!IsCurrent(end.playlist_entry_id)) return;
    if (end.reason == MPV_END_FILE_REASON_REDIRECT && end.playlist_insert_num_entries > 0) {
      // A playlist file hands over to its first entry.
      currentEntry = end.playlist_insert_id;
      return;
    }
    if (end.reason != MPV_END_FILE_REASON_ERROR) return;
    currentEntry = kNoEntry;
    loadFailed = true;
    ShowLoadFailure(FailureCause(end.error));
  }

  void OnProperty(quint64 id, const mpv_event_property& property) {
    const bool known = property.format != MPV_FORMAT_NONE;
    const auto asDouble = [&] { return known ? *static_cast<double*>(property.data) : 0.0; };
    const auto asFlag = [&] { return known && *static_cast<int*>(property.data) != 0; };
    const auto asInt = [&] {
      return known ? static_cast<int>(*static_cast<int64_t*>(property.data)) : 0;
    };
    switch (id) {
      case kTimePos:
        if (std::exchange(position, asDouble()) != position) emit q->positionChanged(position);
        break;
      case kDuration:
        engineDuration = asDouble();
        UpdateDuration();
        break;
      case kStartTime:
        startTime = asDouble();
        UpdateDuration();
        break;
      case kFileFormat:
        isFlv = known && (qstrcmp(*static_cast<char**>(property.data), "flv") == 0 ||
                          qstrcmp(*static_cast<char**>(property.data), "live_flv") == 0);
        UpdateDuration();
        break;
      case kPause:
        if (std::exchange(paused, asFlag()) != paused) emit q->pausedChanged(paused);
        break;
      case kEofReached:
        if (std::exchange(endReached, asFlag()) != endReached) {
          if (endReached && !CheckSomethingPlayed()) break;
          emit q->endReachedChanged(endReached);
        }
        break;
      case kCoreIdle:
        if (std::exchange(idle, asFlag()) != idle) emit q->idleChanged(idle);
        break;
      case kIdleActive:
        if (std::exchange(hasFile, !asFlag()) != hasFile) emit q->hasFileChanged(hasFile);
        break;
      case kVolume:
        if (!known) break;
        if (std::exchange(volume, asDouble()) != volume) emit q->volumeChanged(volume);
        break;
      case kMute:
        if (std::exchange(muted, asFlag()) != muted) emit q->mutedChanged(muted);
        break;
      case kPausedForCache:
        pausedForCache = asFlag();
        UpdateBuffering();
        break;
      case kCacheBuffering:
        cachePercent = std::clamp(asInt(), 0, 100);
        UpdateBuffering();
        break;
      case kCacheState:
        // Reports sent before the observation ended still arrive.
        if (watchingCache && known) {
          SetBufferedRanges(
              stream_info::ReadBufferedRanges(*static_cast<const mpv_node*>(property.data)));
        }
        break;
      case kTrackList:
        tracks = known ? stream_info::ReadTrackList(*static_cast<const mpv_node*>(property.data))
                       : stream_info::Tracks{};
        UpdateStreams();
        break;
      case kVoConfigured:
        voConfigured = asFlag();
        if (!voConfigured) HidePicture();
        break;
      case kDisplayWidth:
      case kDisplayHeight: {
        QSize size = videoSize;
        (id == kDisplayWidth ? size.rwidth() : size.rheight()) = asInt();
        if (size == videoSize) break;
        videoSize = size;
        // A paused picture would otherwise keep the old layout.
        if (pictureShown) RenderFrame(true);
        emit q->videoSizeChanged(videoSize);
        break;
      }
      case kAlpha: {
        const char* alpha = known ? *static_cast<char**>(property.data) : nullptr;
        const bool hasAlpha = alpha && *alpha;
        // Only while needed: the filter costs a full-frame blend.
        if (hasAlpha != alphaFilterOn) {
          alphaFilterOn = hasAlpha;
          engine->SetProperty("vf", alphaFilterOn ? kFlattenAlphaOntoWhite : "");
        }
        break;
      }
      default:
        break;
    }
  }

  // In device pixels.
  QRect PictureRect() const {
    return picture_layout::ShowAll(videoSize, QSizeF(q->size()) * q->devicePixelRatioF());
  }

  // `force` re-renders the current frame, for a new size or layout.
  void RenderFrame(bool force) {
    if (!renderer) return;
    const FrameRenderer::Waiting waiting = renderer->Poll();
    const bool newFrame = waiting != FrameRenderer::Waiting::kNothing;
    if (!newFrame && !force) return;
    if (currentEntry == kNoEntry) {
      // Stopped, or the load failed: whatever the engine still hands over
      // belongs to no file that is playing.
      if (newFrame) renderer->Skip();
      HidePicture();
      return;
    }
    if (waiting == FrameRenderer::Waiting::kNewFrame) {
      freshFrame = true;
      ++framesThisFile;
    } else if (waiting == FrameRenderer::Waiting::kRedraw && !freshFrame) {
      // The previous file's last picture, asked for again after a new file
      // was requested: it must not show as the new file's.
      renderer->Skip();
      return;
    }

    const QRect target = PictureRect();
    if (!voConfigured || target.isEmpty()) {
      if (newFrame) renderer->Skip();
      HidePicture();
      return;
    }
    if (!renderer->Render(target.size(), q->devicePixelRatioF())) {
      HidePicture();
      return;
    }
    frameRect = target;
    pictureShown = true;
    ++framesRendered;
    q->update();
    emit q->frameRendered();
  }

  void Paint(QPainter& painter, const QRect& dirty) {
    const qreal dpr = q->devicePixelRatioF();
    // Only a player movie shows video: a late frame from before a new movie
    // was loaded must not appear over it.
    const bool showPicture = pictureShown && movie && movie->kind == movie::Kind::kPlayer;
    const QRectF picture =
        showPicture ? QRectF(QPointF(frameRect.topLeft()) / dpr, QSizeF(frameRect.size()) / dpr)
                    : QRectF();
    if (movie && movie->background) {
      for (const QRect& r : QRegion(dirty).subtracted(picture.toAlignedRect())) {
        painter.fillRect(r, *movie->background);
      }
    }
    if (!picture.isEmpty()) painter.drawImage(picture.topLeft(), renderer->Picture());
    overlay->Paint(painter);

    const QColor textColour = movie ? movie->textColor : QColor(Qt::black);
    const QString text =
        !message.isEmpty()
            ? message
            : (movie && movie->kind == movie::Kind::kStill ? movie->text : QString());
    if (text.isEmpty()) return;
    QTextOption option(Qt::AlignCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    painter.setPen(textColour);
    // QPainter::drawText takes the string as plain text, never as markup.
    painter.drawText(QRectF(q->rect()).adjusted(8, 8, -8, -8), text, option);
  }
};

MpvPlayer::MpvPlayer(QWidget* parent) : QWidget(parent), d_(std::make_unique<Impl>(this)) {
  // Transparent window mode: whatever the movie leaves unpainted shows the
  // host window, so the widget fills no background of its own.
  setAutoFillBackground(false);
  d_->overlay = new PlayerOverlay(*this);
}

MpvPlayer::~MpvPlayer() = default;

void MpvPlayer::SetWidth(float twips) {
  d_->widthTwips = twips;
  resize(TwipsToPixels(twips, this), height());
}

void MpvPlayer::SetHeight(float twips) {
  d_->heightTwips = twips;
  resize(width(), TwipsToPixels(twips, this));
}

void MpvPlayer::LoadMovie(int layer, const QString& path) {
  // Only the base level is shown; other levels have nothing to show on.
  if (layer != 0) return;
  d_->LoadMovie(path);
}

void MpvPlayer::SetVariable(const QString& name, const QString& value) {
  d_->variables.insert(name, value);
  if (name != QLatin1String("myuri")) return;
  if (d_->movie && d_->movie->kind == movie::Kind::kPlayer && d_->engine) {
    d_->Play(value);
  } else if (d_->movieRead) {
    d_->CheckEarly(value);
  }
}

float MpvPlayer::Width() const { return d_->widthTwips; }
float MpvPlayer::Height() const { return d_->heightTwips; }
QString MpvPlayer::Message() const { return d_->message; }

void MpvPlayer::SetAudioOutput(const QString& driver) {
  d_->audioOutput = driver.toUtf8();
  if (d_->engine) d_->engine->SetProperty("ao", d_->audioOutput);
}

double MpvPlayer::Position() const { return d_->position; }
double MpvPlayer::Duration() const { return d_->duration; }
bool MpvPlayer::IsPaused() const { return d_->paused; }
bool MpvPlayer::IsEndReached() const { return d_->endReached; }
bool MpvPlayer::IsIdle() const { return d_->idle; }
QSize MpvPlayer::VideoSize() const { return d_->videoSize; }
bool MpvPlayer::HasEngine() const { return d_->engine != nullptr; }
int MpvPlayer::FramesRendered() const { return d_->framesRendered; }
int MpvPlayer::LoadRequests() const { return d_->loadRequests; }
QString MpvPlayer::LastLoadedTarget() const { return d_->sentTarget; }

QString MpvPlayer::EngineProperty(const char* name) const {
  if (!d_->engine) return {};
  char* value = mpv_get_property_string(d_->engine->handle(), name);
  const QString text = QString::fromUtf8(value);
  mpv_free(value);
  return text;
}

void MpvPlayer::Play() {
  // Only the player movie plays; a still movie has stopped playback for good.
  if (!d_->engine || d_->currentTarget.isEmpty() || !d_->movie ||
      d_->movie->kind != movie::Kind::kPlayer) {
    return;
  }
  if (!d_->hasFile && d_->currentEntry == kNoEntry) {
    d_->Load(d_->currentTarget);
    return;
  }
  // keep-open holds the last frame paused at the end; resuming there would
  // pause again at once.
  if (d_->endReached) SeekTo(0);
  d_->engine->SetProperty("pause", "no");
}

void MpvPlayer::Pause() {
  if (d_->engine && d_->hasFile) d_->engine->SetProperty("pause", "yes");
}

void MpvPlayer::TogglePause() {
  if (d_->paused || !d_->hasFile) {
    Play();
  } else {
    Pause();
  }
}

void MpvPlayer::Stop() {
  // Also while the file is still opening.
  if (d_->engine && (d_->hasFile || d_->currentEntry != kNoEntry)) d_->Stop();
}

void MpvPlayer::SeekTo(double seconds) {
  if (!d_->engine || !d_->hasFile || !std::isfinite(seconds)) return;
  d_->engine->Command(
      {"seek", QByteArray::number(std::max(seconds, 0.0), 'f', 6), "absolute+exact"});
}

void MpvPlayer::SeekBy(double seconds) {
  if (!d_->engine || !d_->hasFile || !std::isfinite(seconds)) return;
  d_->engine->Command({"seek", QByteArray::number(seconds, 'f', 6), "relative+exact"});
}

void MpvPlayer::SetVolume(double percent) {
  if (std::isnan(percent)) return;
  const double clamped = std::clamp(percent, 0.0, 100.0);
  if (d_->engine) d_->engine->SetProperty("volume", QByteArray::number(clamped, 'f', 3));
  // Reported now rather than when the engine confirms: the confirmation
  // then matches and says nothing twice.
  if (std::exchange(d_->volume, clamped) != clamped) emit volumeChanged(clamped);
}

double MpvPlayer::Volume() const { return d_->volume; }
bool MpvPlayer::HasFile() const { return d_->hasFile; }

void MpvPlayer::SetMuted(bool muted) {
  if (d_->engine) d_->engine->SetProperty("mute", muted ? "yes" : "no");
  // Reported at once, like the volume.
  if (std::exchange(d_->muted, muted) != muted) emit mutedChanged(muted);
}

bool MpvPlayer::IsMuted() const { return d_->muted; }
bool MpvPlayer::IsBuffering() const { return d_->buffering; }
int MpvPlayer::BufferingPercent() const { return d_->bufferingPercent; }
QList<std::pair<double, double>> MpvPlayer::BufferedRanges() const { return d_->bufferedRanges; }
bool MpvPlayer::IsAudioOnly() const { return d_->audioOnly; }
QString MpvPlayer::DecodeProblem() const { return d_->decodeProblem; }

void MpvPlayer::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  d_->Paint(painter, event->rect());
}

void MpvPlayer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A paused or finished video gets no new frames: redraw the one shown.
  if (d_->pictureShown) d_->RenderFrame(true);
}

void MpvPlayer::mousePressEvent(QMouseEvent* event) { event->accept(); }
void MpvPlayer::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }
void MpvPlayer::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
void MpvPlayer::contextMenuEvent(QContextMenuEvent* event) { event->accept(); }
