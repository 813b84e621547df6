#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "media/file_handle.h"
#include "media/flv/byte_source.h"
#include "media/flv/facts.h"
#include "media/flv/walker.h"

// The player's reading of one local FLV file, kept for as long as it plays:
// what a look at its start and end says at once, and a walk over all its tag
// headers that goes on in slices, off the GUI thread, and on again when a
// file still being written grows. One thread at a time may call it.
class FlvWatch {
 public:
  explicit FlvWatch(std::shared_ptr<const FileHandle> file);

  // The start and the end only: enough for the length, in one small read.
  flv_reader::Facts QuickFacts() const;
  // Walks on for at most `budget`, or until the end of what the file holds
  // now, or until `cancel` is set. True once the walk has reached the end.
  bool WalkFor(std::chrono::milliseconds budget, const std::atomic<bool>* cancel = nullptr);
  // The same, stopping once an audio or video tag has been read.
  bool WalkToMedia(std::chrono::milliseconds budget);
  // What the walk has found; the whole file's once it has reached the end.
  flv_reader::Facts Facts() const { return walker_.Snapshot(); }
  bool Complete() const { return complete_; }
  // Whether the walk has read an audio or video tag.
  bool MediaSeen() const { return walker_.MediaSeen(); }
  // Whether the file has grown since the walk last reached its end.
  bool Grew() const;

 private:
  bool Walk(std::chrono::milliseconds budget, const std::atomic<bool>* cancel, bool toMedia);

  std::shared_ptr<const FileHandle> file_;
  flv_reader::FileSource source_;
  flv_reader::Walker walker_;
  bool complete_ = false;
  int64_t sizeAtEnd_ = -1;
};
