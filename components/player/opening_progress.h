#pragma once

#include <QString>

#include "engine/engine.h"

// How far a network open has got, from the engine's detailed log: the bytes
// its demuxer has read so far and, when the server said, how many there are.
// The engine reports nothing else until the file is open, and a server that
// trickles data would otherwise leave a silent black area.
class OpeningProgress {
 public:
  void Start(const QString& host);
  // Takes what a detail line of the log tells; other lines change nothing.
  void Note(const engine::LogLine& line);
  // In words, `elapsedMs` into the wait: "Connecting to example.com… 3 s",
  // "Waiting for example.com: 40 KB of 200 KB received".
  QString Text(qint64 elapsedMs) const;

 private:
  QString host_;
  qint64 received_ = 0;
  qint64 total_ = 0;
};
