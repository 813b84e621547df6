#pragma once

#include <QList>
#include <QString>
#include <utility>

struct mpv_node;

// What the engine's reports say about the open file's streams and buffer,
// read out of mpv's property nodes ("track-list", "demuxer-cache-state").
// Missing or mistyped fields read as absent: the engine's reports vary with
// the file and the engine version.
namespace stream_info {

struct Track {
  bool present = false;
  bool selected = false;
  // In words for a notice, such as "mp3, 22.05 kHz", "vp6f, 640x480" or
  // "unsupported codec" when the demuxer named none.
  QString description;
};

struct Tracks {
  Track audio;  // the first audio track
  Track video;  // the first video track that is a moving picture (not cover art)
};

Tracks ReadTrackList(const mpv_node& list);

// What the player tells the user about the streams: a file is sound only when
// its audio decodes and it has no picture that does; each stream whose
// decoder failed gets a line naming its codec. Until the file has opened
// (`settled`) no file counts as sound only.
struct Verdict {
  bool soundOnly = false;
  QString problem;  // empty when everything present decodes
};
Verdict Judge(const Tracks& tracks, bool settled, bool audioUndecodable, bool videoUndecodable);

// The buffered stretches of the file, in seconds, from "seekable-ranges".
QList<std::pair<double, double>> ReadBufferedRanges(const mpv_node& cacheState);

}  // namespace stream_info
