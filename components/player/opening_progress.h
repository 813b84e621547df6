#pragma once

#include <QString>

#include "engine/engine.h"

// How far a network open has got: for http(s), the media bytes the player's
// own connection received (SetReceived); for rtmp, the engine's own, from
// its detailed log: the bytes its demuxer has read so far and, when the
// server said, how many there are. A server that trickles data would
// otherwise leave a silent black area.
class OpeningProgress {
 public:
  void Start(const QString& host);
  // Takes what a detail line of the log tells; other lines change nothing.
  void Note(const engine::LogLine& line);
  // What the player's connection counted; `total` -1 when unknown.
  void SetReceived(qint64 received, qint64 total);
  // In words, `elapsedMs` into the wait: "Connecting to example.com… 3 s",
  // "Waiting for example.com: 40 KB of 200 KB received".
  QString Text(qint64 elapsedMs) const;

 private:
  QString host_;
  qint64 received_ = 0;
  qint64 total_ = 0;
};
