#pragma once

#include <QIODevice>
#include <QString>

// What the player learns about a local file before the engine opens it. It
// reads the file, so it runs off the GUI thread.
namespace local_media {

struct Findings {
  // Why the file must not reach the engine; empty when it may.
  QString error;
  // The file is an FLV whose PreviousTagSize fields all disagree with the
  // tags before them, while the tags themselves follow one another by their
  // own sizes (seen in files from a streaming server that wrote every one of
  // them four bytes too large). The engine's demuxer takes such a mismatch
  // for damage and skips ahead looking for tags it can trust, finding none;
  // it has to be told to follow the tag sizes instead.
  bool previousTagSizesWrong = false;
  // The file is one the engine's FLV demuxer recognises by its header. Such a
  // file is opened as a recording that may have gaps: a timestamp that leaps
  // ahead in the middle (a recorder that lost the stream for a while) then
  // plays on at once instead of holding the picture for the length of the
  // leap while the sound runs on.
  bool flv = false;
};

// A path that does not exist passes: the engine says so in its own words.
// Anything that exists but is not a regular file is refused: opening a FIFO
// waits for a writer, a device such as /dev/zero never ends, and a folder
// would be played as a playlist of whatever is in it.
Findings Inspect(const QString& path);

// Whether an open file starts with a header the engine's FLV demuxer accepts:
// the signature, a version below 5, a sane data offset and at least a
// hundred bytes after it.
bool IsFlv(QIODevice& file);

// The PreviousTagSize check on an open file, from its start.
bool PreviousTagSizesWrong(QIODevice& file);

}  // namespace local_media
