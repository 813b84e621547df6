#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "media/file_handle.h"
#include "media/flv/facts.h"
#include "media/flv_index.h"
#include "media/flv_watch.h"
#include "media/mkv/file_view.h"
#include "media/mp4/facts.h"

// What the player learns about a local file before the engine sees it. The
// player opens the file itself (the engine reads it through the player), so
// the file that was looked at is the one that plays, whatever happens to its
// name meanwhile. It reads the file, so it runs off the GUI thread.
namespace local_file {

// kFlvModern: an FLV with HEVC as codec id 12 or any enhanced tag, which
// the engine's own FLV reader does not play (a local one carries its
// Matroska view in the inspection; one over http is read as a stream).
enum class Format { kFlv, kMp4, kFlvModern };

struct Inspection {
  // Why the file is not played, to finish "Cannot play "x": ..."; empty
  // when it may be played.
  QString error;
  Format format = Format::kFlv;
  // The file, open for reading; null when refused.
  std::shared_ptr<FileHandle> file;
  // An FLV whose PreviousTagSize fields all disagree with the tags before
  // them, while the tags themselves follow one another by their own sizes
  // (seen in files from a streaming server that wrote every one of them
  // four bytes too large). The engine's demuxer takes such a mismatch for
  // damage and skips ahead looking for tags it can trust, finding none; it
  // has to be told to follow the tag sizes instead.
  bool previousTagSizesWrong = false;
  // Bytes the engine must read differently, at offsets in the file: the
  // type byte of each script tag near the start whose data would cost the
  // engine minutes or gigabytes (hundreds of thousands of names, megabytes
  // of strings, absurd nesting), turned into a type the engine steps over.
  std::vector<std::pair<qint64, char>> patches;
  // FLV: what the player knows of the file before it plays: its whole walk
  // when that took little time, else what its start and end say.
  flv_reader::Facts facts;
  // FLV: the reading of the file, to go on with while it plays.
  std::shared_ptr<FlvWatch> watch;
  // FLV walked whole: what the engine reads before the file's first tag (a
  // header and an onMetaData with the true length and a keyframe index),
  // and where in the file that first tag is. Empty: the file as it is.
  QByteArray prefix;
  qint64 realStart = 0;
  // FLV: stretches of the file, [from, to), that hold no tag (flv_index.h).
  flv_index::Cuts cuts;
  // How much earlier than asked the engine starts a seek (flv_index.h).
  double seekLead = 0;
  // MP4: what its boxes claim and what of its samples it holds.
  mp4_reader::Facts mp4;
  // How many of the file's bytes the engine may read; -1: all. An MP4 cut
  // short ends for the engine where its first missing sample starts, so that
  // it never decodes the part of a picture that is there.
  qint64 engineEnd = -1;
  // An FLV with HEVC as codec id 12 or any enhanced tag, which FFmpeg's own
  // FLV reader does not play: the engine reads it as Matroska, through this
  // view. Null for every other file, which the engine reads as it is.
  std::shared_ptr<const mkv::FileView> matroska;
  // A picture or sound of such a file that the view cannot play, named,
  // with why; empty when it plays or there is none.
  std::string unplayableVideo, unplayableAudio;
};

// An FLV that is refused (a header and nothing after it) still gets its
// facts, for the information view.
//
// Opening never waits: a FIFO, a device or a folder is refused ("it is not
// a regular file") without blocking on it. Only FLV and MP4 content is
// accepted; anything else is refused with what it looks like. An MP4's boxes
// are walked whole first, and one the engine must not be given (a compressed
// header, sample tables past the bounds, no movie header or one cut short)
// is refused with the reason (mp4/walker.h). An FLV's tags
// are walked for at most `walkBudget` (a few milliseconds for files of a
// few hundred megabytes from a warm cache); a larger file plays at once with
// the length its tail gives and is walked on while it plays. The budget
// keeps the length known within 50 ms of the open, whatever the size.
// Files from `indexFromBytes` on are given the keyframe index found
// (flv_index.h).
inline constexpr std::chrono::milliseconds kWalkBudget{40};
// A file that starts with nothing but script data is read on to its first
// audio or video tag for up to this long.
inline constexpr std::chrono::milliseconds kScriptStartBudget{2000};
Inspection Inspect(const QByteArray& path, std::chrono::milliseconds walkBudget = kWalkBudget,
                   qint64 indexFromBytes = flv_index::kIndexFromBytes);

// The PreviousTagSize check, from the file's start.
bool PreviousTagSizesWrong(const FileHandle& file);

}  // namespace local_file
