#include "engine/mpv_events.h"

#include <mpv/client.h>

#include <cstring>

namespace mpv_events {
namespace {

using engine::EndReason;
using engine::Property;
using engine::Query;
using engine::Value;

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
    {Property::kSpeed, "speed", MPV_FORMAT_DOUBLE},
    {Property::kSeekable, "seekable", MPV_FORMAT_FLAG},
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

// The reply of "screenshot-raw": a map of w, h, stride, format and the
// pixels. Only the engine's usual "bgr0" is read; anything else, or sizes
// that the data cannot hold, give a null image.
QImage ReadPicture(const mpv_node& reply) {
  const mpv_node* data = Find(reply, "data");
  if (String(reply, "format") != QLatin1String("bgr0") || !data ||
      data->format != MPV_FORMAT_BYTE_ARRAY) {
    return {};
  }
  const qint64 width = qint64(Number(reply, "w"));
  const qint64 height = qint64(Number(reply, "h"));
  const qint64 stride = qint64(Number(reply, "stride"));
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384 || stride < width * 4 ||
      qint64(data->u.ba->size) < stride * (height - 1) + width * 4) {
    return {};
  }
  QImage picture(int(width), int(height), QImage::Format_RGB32);
  if (picture.isNull()) return {};
  const auto* bytes = static_cast<const uchar*>(data->u.ba->data);
  // Byte by byte: bgr0 leaves the fourth byte 0, where RGB32 wants 0xff,
  // and the byte order of a word differs between machines.
  for (int y = 0; y < picture.height(); ++y) {
    const uchar* in = bytes + y * stride;
    auto* out = reinterpret_cast<QRgb*>(picture.scanLine(y));
    for (int x = 0; x < picture.width(); ++x, in += 4) out[x] = qRgb(in[2], in[1], in[0]);
  }
  return picture;
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

}  // namespace

void ObserveAll(mpv_handle* core) {
  for (int i = 0; i < kAlwaysObserved; ++i) {
    mpv_observe_property(core, quint64(i + 1), kObserved[i].name, kObserved[i].format);
  }
}

void ObserveCache(mpv_handle* core, bool on) {
  if (on) {
    const Observed& cache = kObserved[kCacheReplyId - 1];
    mpv_observe_property(core, kCacheReplyId, cache.name, cache.format);
  } else {
    mpv_unobserve_property(core, kCacheReplyId);
  }
}

void Ask(mpv_handle* core, quint64 token, Query query, Pending& pending) {
  pending.questions.insert(token, query);
  const Asked asked = QueryProperty(query);
  mpv_get_property_async(core, token, asked.name, asked.format);
}

void GrabPicture(mpv_handle* core, quint64 token, Pending& pending) {
  pending.pictures.insert(token);
  // "video": the frame alone; the default would add subtitles.
  const char* args[] = {"screenshot-raw", "video", nullptr};
  mpv_command_async(core, token, args);
}

void Deliver(const mpv_event& event, Pending& pending, engine::Listener& listener) {
  switch (event.event_id) {
    case MPV_EVENT_PROPERTY_CHANGE: {
      const quint64 row = event.reply_userdata;
      if (row < 1 || row > std::size(kObserved)) break;
      const Property property = kObserved[row - 1].property;
      listener.OnProperty(property, Read(property, *static_cast<mpv_event_property*>(event.data)));
      break;
    }
    case MPV_EVENT_COMMAND_REPLY: {
      if (pending.pictures.remove(event.reply_userdata)) {
        const mpv_node& result = static_cast<const mpv_event_command*>(event.data)->result;
        listener.OnPicture(event.reply_userdata, event.error < 0 ? QImage() : ReadPicture(result));
        break;
      }
      if (!pending.loads.remove(event.reply_userdata)) break;
      qint64 entry = 0;
      const mpv_node& result = static_cast<const mpv_event_command*>(event.data)->result;
      if (const mpv_node* id = Find(result, "playlist_entry_id");
          id && id->format == MPV_FORMAT_INT64) {
        entry = id->u.int64;
      }
      listener.OnLoadReply(
          event.reply_userdata, entry,
          event.error < 0 ? QLatin1String(mpv_error_string(event.error)) : QString());
      break;
    }
    case MPV_EVENT_GET_PROPERTY_REPLY: {
      const auto asked = pending.questions.find(event.reply_userdata);
      if (asked == pending.questions.end()) break;
      const Query query = asked.value();
      pending.questions.erase(asked);
      const Value value = event.error < 0 ? Value{}
                                          : Read(Property::kPosition,
                                                 *static_cast<mpv_event_property*>(event.data));
      listener.OnAnswer(event.reply_userdata, query, value);
      break;
    }
    case MPV_EVENT_START_FILE:
      listener.OnFileStarted(
          static_cast<const mpv_event_start_file*>(event.data)->playlist_entry_id);
      break;
    case MPV_EVENT_FILE_LOADED:
      listener.OnFileLoaded();
      break;
    case MPV_EVENT_END_FILE: {
      const auto& end = *static_cast<const mpv_event_end_file*>(event.data);
      engine::FileEnd ended;
      ended.entry = end.playlist_entry_id;
      ended.reason = ReasonOf(end.reason);
      if (end.reason == MPV_END_FILE_REASON_ERROR) {
        ended.error = QLatin1String(mpv_error_string(end.error));
      }
      if (end.reason == MPV_END_FILE_REASON_REDIRECT && end.playlist_insert_num_entries > 0) {
        ended.redirectedTo = end.playlist_insert_id;
      }
      listener.OnFileEnded(ended);
      break;
    }
    case MPV_EVENT_LOG_MESSAGE: {
      const auto& log = *static_cast<const mpv_event_log_message*>(event.data);
      listener.OnLog({QByteArray(log.prefix), QString::fromUtf8(log.text),
                      log.log_level <= MPV_LOG_LEVEL_ERROR});
      break;
    }
    case MPV_EVENT_SEEK:
      listener.OnSeekStarted();
      break;
    case MPV_EVENT_PLAYBACK_RESTART:
      listener.OnPlaybackRestarted();
      break;
    default:
      break;
  }
}

}  // namespace mpv_events
