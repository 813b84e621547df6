#include "engine/local_reader.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr auto kGrowthPoll = std::chrono::milliseconds(50);
// A run of zeros this long at the end of what a read got is looked into;
// shorter ones are ordinary data.
constexpr qint64 kZeroProbeBytes = 4096;

// The first byte of `data` from `i` on that is not zero; `n` when none is.
qint64 FirstNonZero(const char* data, qint64 i, qint64 n) {
  for (; i + 8 <= n; i += 8) {
    quint64 word;
    std::memcpy(&word, data + i, sizeof word);
    if (word != 0) break;
  }
  while (i < n && data[i] == 0) ++i;
  return i;
}

}  // namespace

LocalReader::LocalReader(Setup setup) : s_(std::move(setup)) {
  if (s_.prefix.isEmpty()) s_.realStart = 0;
  sizeAtOpen_ = s_.file->Size();
}

qint64 LocalReader::ToFile(qint64 seen) const {
  qint64 at = seen - s_.prefix.size() + s_.realStart;
  for (const auto& [from, to] : s_.cuts) {
    if (from > at) break;
    at += to - from;
  }
  return at;
}

qint64 LocalReader::FileSize() const {
  const qint64 size = s_.file->Size();
  return s_.end >= 0 && size > s_.end ? s_.end : size;
}

qint64 LocalReader::Size() const {
  const qint64 size = FileSize();
  if (size < 0) return -1;
  qint64 cut = 0;
  for (const auto& [from, to] : s_.cuts) {
    if (from < size) cut += std::min(to, size) - from;
  }
  return std::max<qint64>(size - s_.realStart - cut, 0) + s_.prefix.size();
}

void LocalReader::Cut(qint64 from, qint64 to) {
  const auto next = std::lower_bound(s_.cuts.begin(), s_.cuts.end(), std::make_pair(from, from));
  if (next != s_.cuts.end()) to = std::min(to, next->first);
  if (to > from) s_.cuts.insert(next, {from, to});
}

qint64 LocalReader::FirstData(qint64 from, qint64 end) {
  // What is known to be zeros is not read again.
  qint64 at = (from >= zerosFrom_ && from <= zerosTo_) ? zerosTo_ : from;
  if (!(from >= zerosFrom_ && from <= zerosTo_)) zerosFrom_ = from;
  scan_.resize(size_t(kScanBytes));
  while (at < end && !cancelled_) {
    const qint64 data = s_.file->NextData(at);
    if (data < 0 || data >= end) {
      at = end;
      break;
    }
    at = data;
    const qint64 got = s_.file->ReadAt(at, scan_.data(), std::min(kScanBytes, end - at));
    if (got <= 0) break;
    const qint64 i = FirstNonZero(scan_.data(), 0, got);
    at += i;
    if (i < got) break;
  }
  zerosTo_ = at;
  return std::min(at, end);
}

bool LocalReader::WaitForMedia(qint64 at, bool atEnd) {
  using Clock = std::chrono::steady_clock;
  const auto since = Clock::now();
  qint64 looked = -1;  // the size at which the bytes after `at` were looked at
  for (;;) {
    const qint64 now = FileSize();
    // A file that has not grown since it was opened is just at its end.
    if (now <= sizeAtOpen_) return false;
    if (now != looked) {
      looked = now;
      // At the very end every new byte is the read's to judge; where only
      // zeros follow, media ends the wait, and zeros or holes appended do not.
      if (atEnd ? now > at : FirstData(at, now) < now) return true;
    }
    if (cancelled_ || Clock::now() - since > std::chrono::milliseconds(s_.growthWaitMs)) {
      return false;
    }
    std::this_thread::sleep_for(kGrowthPoll);
  }
}

qint64 LocalReader::ReadFile(char* buffer, qint64 size, qint64* from) {
  // Only a read that goes on from the one before waits at zeros: a look at
  // the end (for its last timestamp, say) is answered at once.
  const bool goesOn = position_ == lastEnd_;
  for (;;) {
    const qint64 at = ToFile(position_);
    *from = at;
    if (s_.end >= 0) {
      if (at >= s_.end) return 0;
      size = std::min(size, s_.end - at);
    }
    // A hole is cut out whole, without a byte of it read.
    const qint64 data = s_.file->NextData(at);
    if (data < 0) {
      if (!goesOn || !WaitForMedia(at, false)) return 0;
      continue;
    }
    if (data - at >= kCutBytes) {
      Cut(at, data);
      continue;
    }
    // Not past the next cut: its bytes are not the engine's.
    const auto cut = std::lower_bound(s_.cuts.begin(), s_.cuts.end(), std::make_pair(at, at));
    const qint64 room = cut == s_.cuts.end() ? size : std::min(size, cut->first - at);
    const qint64 got = s_.file->ReadAt(at, buffer, room);
    if (got < 0) return -1;
    if (got == 0) {
      if (!WaitForMedia(at, true)) return 0;
      continue;
    }
    // Zeros at the end of what was read: up to the end of the file they are
    // held back as the end is; followed by data, a long run is cut out.
    qint64 before = got;
    while (before > 0 && buffer[before - 1] == 0) --before;
    if (got - before < kZeroProbeBytes && before > 0) return got;
    const qint64 end = FileSize();
    const qint64 zeros = at + before;
    const qint64 next = FirstData(zeros, end);
    if (before > 0) return next >= end || next - zeros >= kCutBytes ? before : got;
    if (next >= end) {
      if (!goesOn || !WaitForMedia(at, false)) return 0;
      continue;
    }
    if (next - zeros < kCutBytes) return got;
    Cut(zeros, next);
  }
}

qint64 LocalReader::Read(char* buffer, qint64 size) {
  qint64 got = 0;
  if (position_ < s_.prefix.size()) {
    got = std::min(size, s_.prefix.size() - position_);
    std::memcpy(buffer, s_.prefix.constData() + position_, size_t(got));
  } else {
    qint64 from = 0;
    got = ReadFile(buffer, size, &from);
    if (got <= 0) return got;
    const qint64 end = from + got;
    auto patch =
        std::lower_bound(s_.patches.begin(), s_.patches.end(), std::make_pair(from, char(-128)));
    for (; patch != s_.patches.end() && patch->first < end; ++patch) {
      buffer[patch->first - from] = patch->second;
    }
  }
  position_ += got;
  lastEnd_ = position_;
  return got;
}
