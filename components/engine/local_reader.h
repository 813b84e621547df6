#pragma once

#include <QByteArray>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include "media/file_handle.h"

// A local file's bytes as the engine reads them: the player's prefix in
// place of what comes before `realStart`, single bytes patched, and
// stretches cut out that the engine would otherwise search byte by byte for
// tags (minutes of CPU for gigabytes, with the picture held meanwhile).
//
// Promises:
// - Cuts given at the start (stretches the player's reading found with no
//   tag) are never seen. On the way, holes the file system knows of and
//   runs of zeros of kCutBytes or more followed by data are cut out too, at
//   the read position only, so that nothing already read changes place.
// - At the end of the file, or where only holes or zeros follow, a read
//   returns 0 at once for a file that has not grown since it was opened.
//   Otherwise it waits for media to
//   arrive (where zeros follow, only a read that goes on from the one
//   before), and gives up once none has for growthWaitMs (zeros and holes
//   appended are no media); Cancel() ends the wait at once.
// - Memory is bounded by the cuts given and one buffer of kScanBytes.
// One thread reads, seeks and asks the size; any thread may cancel.
class LocalReader {
 public:
  using Patches = std::vector<std::pair<qint64, char>>;
  using Cuts = std::vector<std::pair<qint64, qint64>>;  // [from, to) in the file

  static constexpr qint64 kCutBytes = qint64{1} << 20;
  static constexpr qint64 kScanBytes = qint64{1} << 20;

  struct Setup {
    std::shared_ptr<const FileHandle> file;
    Patches patches;  // sorted by offset
    QByteArray prefix;
    qint64 realStart = 0;
    Cuts cuts;  // sorted, disjoint
    int growthWaitMs = 3000;
    // In the file: where it ends for the engine, though it is longer (what
    // follows is not the engine's to read, and nothing grows past it); -1:
    // where it ends.
    qint64 end = -1;
  };
  explicit LocalReader(Setup setup);

  // Up to `size` bytes at the position: fewer at a cut or a run of zeros, 0
  // at the end, -1 on an error.
  qint64 Read(char* buffer, qint64 size);
  void Seek(qint64 position) { position_ = position; }
  // The size the engine sees, the cuts known so far left out; -1 on an error.
  qint64 Size() const;
  void Cancel() { cancelled_ = true; }

 private:
  qint64 ToFile(qint64 seen) const;
  // The file's size, no more than its set end.
  qint64 FileSize() const;
  void Cut(qint64 from, qint64 to);
  // The first byte from `from` on, before `end`, that is not zero; `end` when
  // there is none.
  qint64 FirstData(qint64 from, qint64 end);
  // At `at`, nothing but zeros (or nothing) to the end: whether media came
  // within the wait.
  bool WaitForMedia(qint64 at, bool atEnd);
  // Reads the file at the position; `from` says where in the file the bytes
  // came from.
  qint64 ReadFile(char* buffer, qint64 size, qint64* from);

  Setup s_;
  qint64 position_ = 0;
  qint64 sizeAtOpen_ = 0;
  // Where the last read ended: a read from there goes on with the one before.
  qint64 lastEnd_ = 0;
  // A run of zeros known so far, to look at only what is new.
  qint64 zerosFrom_ = -1;
  qint64 zerosTo_ = -1;
  std::vector<char> scan_;
  std::atomic<bool> cancelled_{false};
};
