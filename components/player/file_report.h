#pragma once

#include <QString>

#include "media/stream_facts.h"
#include "player/length_clock.h"

// The information view's text for the file in hand, from what is known of
// it: the player's own reading where there is one; else, for a network
// address, where it is and where its length came from; the engine's view of
// its streams once it has opened; and what cannot be decoded. Plain text.
struct FileReportInputs {
  QString readingReport;  // the reading's own report; empty without one
  QString networkUrl;     // empty for a local file
  LengthClock::Length length;
  bool open = false;  // the engine has opened the file
  stream_facts::Tracks tracks;
  QString decodeProblem;
};
QString FileReport(const FileReportInputs& in);
