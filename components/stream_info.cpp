#include "stream_info.h"

#include <mpv/client.h>

#include <QStringList>

#include <cstring>

namespace stream_info {
namespace {

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

}  // namespace

Tracks ReadTrackList(const mpv_node& list) {
  Tracks tracks;
  if (list.format != MPV_FORMAT_NODE_ARRAY) return tracks;
  for (int i = 0; i < list.u.list->num; ++i) {
    const mpv_node& entry = list.u.list->values[i];
    const QString type = String(entry, "type");
    const bool audio = type == QLatin1String("audio");
    // Cover art is a still image attached to a sound file, not a video.
    const bool video = type == QLatin1String("video") && !Flag(entry, "albumart");
    Track* track = audio ? &tracks.audio : video ? &tracks.video : nullptr;
    if (!track || track->present) continue;
    track->present = true;
    track->selected = Flag(entry, "selected");
    track->description = Describe(entry, audio);
  }
  return tracks;
}

QList<std::pair<double, double>> ReadBufferedRanges(const mpv_node& cacheState) {
  QList<std::pair<double, double>> ranges;
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

Verdict Judge(const Tracks& tracks, bool settled, bool audioUndecodable, bool videoUndecodable) {
  const auto what = [](const Track& track) {
    return track.description.isEmpty() ? QStringLiteral("unknown codec") : track.description;
  };
  QStringList problems;
  if (audioUndecodable) {
    problems << QStringLiteral("Audio could not be decoded: %1").arg(what(tracks.audio));
  }
  if (videoUndecodable) {
    problems << QStringLiteral("Video could not be decoded: %1").arg(what(tracks.video));
  }
  return {settled && tracks.audio.present && !audioUndecodable &&
              (!tracks.video.present || videoUndecodable),
          problems.join(QLatin1Char('\n'))};
}

}  // namespace stream_info
