#pragma once

#include <QString>

#include "engine/engine.h"

// Why the address in hand could not be played, in words for the user. The
// engine logs the cause of a failed open, but its lines may come after the
// end-of-file event and may belong to the file before: the first line from a
// part that opens files, logged while this file opens (or just after it
// failed), is kept. The cause then comes from the evidence, in order: a
// server that never answered, a picture too large to decode, what the
// player's own reading found in the file, that line, the engine's own words.
class FailureDiagnosis {
 public:
  // A new address: collect its cause.
  void Begin();
  // The engine started on it: whatever was logged before was the file before's.
  void FileStarted();
  // Open: what is logged from now on is about playing, not opening.
  void Opened();
  // Stopped, or failed for a reason of the player's own: nothing to collect.
  void Stop();
  // The engine gave up; a cause logged after this refines the message.
  void Failed();
  // Takes an error line of the engine's log. True when it gave the cause of
  // a failure already reported, whose message must then be made again.
  bool Note(const engine::LogLine& line);

  struct Evidence {
    // How long a network open went on; negative for a local file.
    qint64 networkWaitMs = -1;
    // The size of a picture the decoders refused, as "16000x16000".
    QString pictureTooLarge;
    // What the player's own reading says of a file that failed.
    QString readerFinding;
    QString engineError;
  };
  QString Cause(const Evidence& evidence) const;

  // The notice for a file that cannot be played: `Cannot play "x": cause.`
  static QString CannotPlay(const QString& shown, const QString& cause);
  // The size in a decoder's refusal of a picture larger than it takes; empty
  // for any other line.
  static QString PictureTooLarge(const engine::LogLine& line);
  static QString PictureTooLargeCause(const QString& size);
  // Which decoder could not start, by the line that says so: 'a' for the
  // sound's, 'v' for the picture's, 0 for any other line.
  static char DecoderFailed(const engine::LogLine& line);

 private:
  bool collecting_ = false;
  bool failed_ = false;
  QString cause_;
};
