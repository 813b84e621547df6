#pragma once

#include <QList>
#include <QString>
#include <utility>

// What the engine says about the open file's streams, and what the player
// tells the user about them.
namespace stream_facts {

struct Track {
  bool present = false;
  bool selected = false;
  // In words for a notice, such as "mp3, 22.05 kHz", "vp6f, 640x480" or
  // "unsupported codec" when the demuxer named none.
  QString description;
  bool operator==(const Track&) const = default;
};

struct Tracks {
  Track audio;  // the first audio track
  Track video;  // the first video track that is a moving picture (not cover art)
  bool operator==(const Tracks&) const = default;
};

// Stretches of a file held in memory, in seconds from its start.
using Ranges = QList<std::pair<double, double>>;

// A named moment of the file that its author marked (an FLV cue point), in
// seconds from the first frame.
struct CuePoint {
  double seconds = 0;
  QString name;
  bool operator==(const CuePoint&) const = default;
};
using CuePoints = QList<CuePoint>;

// A file is sound only when its audio decodes and it has no picture that
// does; each stream whose decoder failed gets a line naming its codec. Until
// the file has opened (`settled`) no file counts as sound only.
struct Verdict {
  bool soundOnly = false;
  QString problem;  // empty when everything present decodes
};
Verdict Judge(const Tracks& tracks, bool settled, bool audioUndecodable, bool videoUndecodable);

}  // namespace stream_facts
