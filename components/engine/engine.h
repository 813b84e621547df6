#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <variant>
#include <vector>

#include "media/file_handle.h"
#include "media/mkv/file_view.h"
#include "media/stream_facts.h"
#include "net/http_file.h"

// The video engine as the player sees it: requests go in, typed events come
// out. The one implementation plays through libmpv (mpv_core.h); tests put a
// fake in its place, so the player's logic runs without libmpv.
//
// Promises of every implementation:
// - Every call returns at once; nothing waits on file or network I/O.
// - Events reach the listener on the thread that made the engine, one at a
//   time, in the order the engine produced them. A listener may destroy the
//   engine from inside an event; no further event is delivered then.
// - Frames are the engine's: each one announced must be rendered or skipped.
namespace engine {

// What the engine reports as it changes, each with one value type (in the
// comment). A value of std::monostate means "not available now".
enum class Property {
  kPosition,        // double: seconds into the file, from its first timestamp
  kDuration,        // double: seconds, as the file's demuxer tells it
  kStartTime,       // double: the file's first timestamp
  kFileFormat,      // QString: the demuxer's name for the format
  kPaused,          // bool
  kEndReached,      // bool: held at the end of the file
  kCoreIdle,        // bool: not playing right now (paused, waiting, ended)
  kNoFile,          // bool: no file is open
  kPictureOut,      // bool: the video output is set up
  kDisplayWidth,    // qint64: the picture's display size
  kDisplayHeight,   // qint64
  kAlpha,           // QString: the video's alpha mode, empty when opaque
  kVolume,          // double: percent
  kMuted,           // bool
  kPausedForCache,  // bool: waiting for data
  kCacheBuffering,  // qint64: percent of the wait done
  kBufferedRanges,  // stream_facts::Ranges; only while WatchCache(true)
  kTracks,          // stream_facts::Tracks
  kSpeed,           // double: the playback speed, 1 for normal
  kSeekable,        // bool: the file in hand can be sought in
};

using Value = std::variant<std::monostate, bool, double, qint64, QString, stream_facts::Tracks,
                           stream_facts::Ranges>;

// Why a file stopped playing.
enum class EndReason { kEnded, kStopped, kError, kRedirect, kOther };

struct FileEnd {
  qint64 entry = 0;
  EndReason reason = EndReason::kOther;
  // kError: the engine's own words for the failure.
  QString error;
  // kRedirect: a playlist handed over to this entry, if it named any.
  qint64 redirectedTo = 0;
};

// A line of the engine's log: which part of it spoke, how loudly, and what.
// Only errors come unless SetDetailedLog asked for more.
struct LogLine {
  QByteArray part;  // such as "file", "stream", "ffmpeg", "vd", "ad"
  QString text;
  bool error = true;  // false for the detail lines SetDetailedLog brings
};

// Questions whose answers come back as events, each with the token its
// request returned.
enum class Query {
  kPosition,    // double
  kSampleRate,  // qint64: the decoded sound's rate, 0 or unavailable without sound
};

// What the engine should open. A local file is read through the player's own
// descriptor, never by name; an http(s) address through the connection the
// player opened (the engine never speaks http itself); an rtmp address is
// opened by the engine.
struct LoadRequest {
  enum class Source { kLocalFile, kHttp, kRtmp };
  Source source = Source::kLocalFile;
  std::shared_ptr<const FileHandle> file;  // kLocalFile
  // kHttp: the connection the player opened, at its start; without one the
  // engine's reader opens `url` through the player's client.
  std::shared_ptr<net::HttpFile> http;
  QString url;  // kHttp, kRtmp
  // kLocalFile, kHttp: the format the file was found to be.
  // kFlvModern: an FLV the engine reads as Matroska, through `matroska`.
  enum class Format { kFlv, kMp4, kFlvModern } format = Format::kFlv;
  std::shared_ptr<const mkv::FileView> matroska;
  // An FLV whose PreviousTagSize fields are all wrong: follow the tag sizes.
  bool ignorePreviousTagSizes = false;
  // Single bytes the engine reads differently, at offsets in the file: how
  // script data the engine must not parse is hidden from it.
  std::vector<std::pair<qint64, char>> patches;
  // kLocalFile: bytes the engine reads first, in place of the file's own up
  // to `realStart` (a header and an onMetaData the player wrote). Empty: the
  // file as it is.
  QByteArray prefix;
  qint64 realStart = 0;
  // kLocalFile: where the file ends for the engine; -1: where it ends.
  qint64 end = -1;
  // kLocalFile: stretches of the file, [from, to), the engine never sees:
  // they hold no tag, and it would search them byte by byte.
  std::vector<std::pair<qint64, qint64>> cuts;
};

class Listener {
 public:
  virtual ~Listener() = default;
  virtual void OnProperty(Property property, const Value& value) = 0;
  // A file the engine started opening: `entry` identifies it.
  virtual void OnFileStarted(qint64 entry) = 0;
  virtual void OnFileLoaded() = 0;
  virtual void OnFileEnded(const FileEnd& end) = 0;
  virtual void OnLog(const LogLine& line) = 0;
  virtual void OnSeekStarted() = 0;
  // Playback runs again after a seek or a load.
  virtual void OnPlaybackRestarted() = 0;
  // The reply to Load: the entry it became, or why it was refused.
  virtual void OnLoadReply(quint64 token, qint64 entry, const QString& error) = 0;
  virtual void OnAnswer(quint64 token, Query query, const Value& value) = 0;
  // A frame waits to be rendered or skipped.
  virtual void OnFrameReady() = 0;
  // The reply to GrabPicture: the frame at the video's display size, or a
  // null image when there was none to take.
  virtual void OnPicture(quint64 token, const QImage& picture) = 0;
};

// How the engine starts: the sound output ("" lets the engine choose, with
// silence when no device works), the loudness and speed it starts with, and
// what it is for.
struct Settings {
  QByteArray audioOutput;
  double volume = 100;
  bool muted = false;
  double speed = 1;
  // kPreview: a small decoder of still pictures for the seek bar. It shows
  // and plays nothing, stays paused, has no sound and no frames to render,
  // and hands out small pictures through GrabPicture.
  enum class Purpose { kPlayer, kPreview } purpose = Purpose::kPlayer;
};

class Engine : public QObject {
  Q_OBJECT

 public:
  ~Engine() override = default;

  virtual void SetListener(Listener* listener) = 0;

  // Replaces whatever plays; returns the token of the reply.
  virtual quint64 Load(const LoadRequest& request) = 0;
  virtual void Stop() = 0;
  virtual void SetPaused(bool paused) = 0;
  // Frame-exact seeks, in seconds.
  virtual void SeekTo(double seconds) = 0;
  virtual void SeekBy(double seconds) = 0;
  // Seconds before an exact seek's target that the demuxer is asked to seek
  // to, for the seeks that follow: a keyframe index that lands late is then
  // still early enough, and the rest is decoded forward.
  virtual void SetSeekLead(double seconds) = 0;
  // A quick seek to the keyframe at or before `seconds`.
  virtual void SeekToKeyframe(double seconds) = 0;
  // One frame forward or back; the engine is paused afterwards.
  virtual void StepFrame(bool forward) = 0;
  // Playback speed as a factor; the sound keeps its pitch.
  virtual void SetSpeed(double factor) = 0;
  virtual void SetVolume(double percent) = 0;
  virtual void SetMuted(bool muted) = 0;
  virtual void SetAudioOutput(const QByteArray& driver) = 0;
  // Alpha in the video composited onto white rather than dropped.
  virtual void SetFlattenAlpha(bool on) = 0;
  // Reports of what is buffered (kBufferedRanges): asked for only while a
  // network file plays, being large and frequent.
  virtual void WatchCache(bool on) = 0;
  // Every log line, not only errors: how far a network open has got shows
  // only there. Chatty, so only while it is needed.
  virtual void SetDetailedLog(bool on) = 0;
  virtual quint64 Ask(Query query) = 0;
  // Takes the video frame on show, without subtitles, as OnPicture with the
  // token returned.
  virtual quint64 GrabPicture() = 0;

  // Frames: what waits, then render it at `size` (device pixels) or skip it.
  // A preview engine never has one waiting.
  enum class Waiting { kNothing, kNewFrame, kRedraw };
  virtual Waiting PollFrame() = 0;
  // False when memory for that size cannot be had; the frame is skipped then.
  virtual bool RenderFrame(QSize size, qreal devicePixelRatio) = 0;
  virtual void SkipFrame() = 0;
  // The last rendered picture, opaque RGB32.
  virtual const QImage& Picture() const = 0;

  // For tests and diagnostics: an engine property as text; empty when the
  // engine has no such value now.
  virtual QString Inspect(const char* name) const = 0;

 protected:
  friend void Abandon(std::unique_ptr<Engine> engine);
  // Hands whatever may block to a thread of its own and forgets it, so that
  // deleting the object right after cannot wait.
  virtual void LetGo() {}
};

// Starts an engine; null with `error` set when it cannot.
using Factory = std::function<std::unique_ptr<Engine>(const Settings& settings, QString* error)>;

// Lets an engine that no longer answers end in the background: the caller
// does not wait for it, and the process may end before it does.
void Abandon(std::unique_ptr<Engine> engine);

}  // namespace engine
