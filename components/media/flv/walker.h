#pragma once

#include <cstdint>
#include <memory>

#include "media/flv/byte_source.h"
#include "media/flv/facts.h"
#include "media/flv/walk_options.h"

// Walks an FLV file's tags from the start: it reads each tag header and the
// first bytes of its body, skips the rest, finds tags again after damage, and
// measures what the file holds (facts.h). A walk runs in slices if asked, can
// be cancelled between any two tags, and goes on from where it stopped once a
// file still being written has grown. Memory stays bounded whatever the file.
namespace flv_reader {

namespace walk {
struct State;
class Reader;
}  // namespace walk

// One thread at a time: Walk() and Snapshot() take turns, perhaps on a
// worker thread; another thread may only set the budget's cancel flag.
class Walker {
 public:
  explicit Walker(const ByteSource& source, WalkOptions options = {});
  ~Walker();
  Walker(const Walker&) = delete;
  Walker& operator=(const Walker&) = delete;

  // Goes on from where the last call stopped; the file's size is asked anew.
  WalkStatus Walk(const WalkBudget& budget = {});
  // The facts so far. After kEndOfData they are the whole file's as it is
  // now: a tag the end cuts short is reported cut, although a later Walk()
  // may find it whole. Otherwise the coverage is partial.
  Facts Snapshot() const;
  // How far the walk has got, in bytes from the file's start.
  int64_t Position() const;
  // Whether an audio or video tag has been read.
  bool MediaSeen() const;

 private:
  const ByteSource& source_;
  WalkOptions options_;
  std::unique_ptr<walk::State> state_;
  std::unique_ptr<walk::Reader> reader_;
};

// A whole walk in one call.
Facts WalkAll(const ByteSource& source, const WalkOptions& options = {});

}  // namespace flv_reader
