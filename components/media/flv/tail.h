#pragma once

#include <cstdint>

#include "media/flv/byte_source.h"
#include "media/flv/facts.h"

// What one small read of a file's end tells: the last complete tags, found by
// following PreviousTagSize fields backwards (or, where they lie, by walking
// the window forwards from the first tag it holds), the last audio and video
// timestamps, and whether the last tag is cut. It needs only the tail: an
// http client can hand it a MemorySource of a Range request's bytes.
namespace flv_reader {

struct TailOptions {
  int64_t bytes = int64_t{64} << 10;
  // Tags larger than the window are looked at with a few reads of 32 bytes
  // around their headers, where the source holds them.
  int extraReads = 8;
};

struct TailInfo {
  bool found = false;  // a complete tag is in the window
  int64_t fileSize = 0;
  int64_t windowStart = 0;
  int64_t windowEnd = 0;
  bool reachesFileEnd = false;  // the bytes held go to the file's end
  int64_t lastAudioMs = -1;     // the last audio frame in file order
  int64_t lastVideoMs = -1;
  int64_t endMs = -1;  // the later of the two
  int64_t lastTagOffset = -1;
  bool lastTagCut = false;
  int64_t cutTagOffset = -1;
  int64_t cutTagMs = -1;
  int64_t trailingBytes = 0;
  // The PreviousTagSize chain from the end led to the tags; otherwise the
  // window was walked forwards.
  bool followedPrevTagSizes = false;
};

TailInfo ReadTail(const ByteSource& source, const TailOptions& options = {});

// Facts from the start of the file and its tail only, for showing a length
// at once: the walk covers `headBytes`, the tail read the end. The coverage
// says kQuick unless the head walk reached the end.
Facts QuickLook(const ByteSource& source, int64_t headBytes = int64_t{256} << 10,
                const TailOptions& tail = {});

}  // namespace flv_reader
