#include "media/network_mp4.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "media/flv/byte_source.h"
#include "media/flv/text_format.h"
#include "media/mp4/walker.h"

namespace network_mp4 {
namespace {

using mp4_reader::Refusal;

constexpr int64_t kChunk = 64 << 10;
// A box header and what follows it closely, kept after each read.
constexpr int64_t kRecent = 64;

// The walker's random reads turned into the few reads in order a
// connection serves well: reads inside the box it was told of come from
// that box, kept; others go to the connection, which reads on, reads
// through a short jump, or asks for a range. Past a bound, every read fails
// and the walk ends.
class RemoteSource final : public flv_reader::ByteSource {
 public:
  RemoteSource(Remote& remote, const Bounds& bounds)
      : remote_(remote),
        bounds_(bounds),
        firstRequests_(remote.Requests()),
        firstReceived_(remote.Received()) {}

  int64_t Size() const override {
    return remote_.Size() >= 0 ? remote_.Size() : std::numeric_limits<int64_t>::max();
  }

  int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const override {
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < length) {
      const int64_t at = offset + done;
      if (at >= heldAt_ && at < spanEnd_) Grow(std::min(spanEnd_, at + (length - done)));
      const int64_t heldEnd = heldAt_ + int64_t(held_.size());
      if (at >= heldAt_ && at < heldEnd) {
        const int64_t n = std::min(length - done, heldEnd - at);
        std::memcpy(out + done, held_.data() + (at - heldAt_), size_t(n));
        done += n;
        continue;
      }
      if (at >= heldAt_ && at < spanEnd_) break;  // the box could not be read this far
      const int64_t got = Fetch(at, out + done, length - done);
      if (got <= 0) return done > 0 ? done : got;
      done += got;
    }
    return done > 0 || length == 0 ? done : -1;
  }

  // The box is read in order, as far as the walk goes into it, and kept:
  // a header refused by its first bytes costs only those.
  void WillRead(int64_t offset, int64_t length) const override {
    if (stopped_ != Refusal::kNone || length <= 0 || length > bounds_.maxHeld) return;
    if (offset >= heldAt_ && offset + length <= spanEnd_) return;
    held_.clear();
    heldAt_ = offset;
    spanEnd_ = offset + length;
    // The box's header was just read: the connection has moved past it.
    const int64_t recentEnd = recentAt_ + int64_t(recent_.size());
    if (offset >= recentAt_ && offset < recentEnd) {
      const int64_t n = std::min(length, recentEnd - offset);
      held_.assign(recent_.begin() + (offset - recentAt_),
                   recent_.begin() + (offset - recentAt_ + n));
    }
  }

  // Whether a bound stopped the walk, and why.
  Refusal Stopped() const { return stopped_; }
  const std::string& Why() const { return why_; }
  // The first offset a server without ranges could not be read at; -1: none.
  int64_t OutOfReach() const { return outOfReach_; }

 private:
  // Reads the kept box on, a block at a time, until it holds `to`.
  void Grow(int64_t to) const {
    while (heldAt_ + int64_t(held_.size()) < to) {
      const size_t before = held_.size();
      const int64_t want = std::min(kChunk, spanEnd_ - heldAt_ - int64_t(before));
      held_.resize(before + size_t(want));
      const int64_t got = Fetch(heldAt_ + int64_t(before), held_.data() + before, want);
      held_.resize(before + size_t(std::max<int64_t>(got, 0)));
      if (got <= 0) return;
    }
  }

  // Up to `length` bytes at `offset` from the connection.
  int64_t Fetch(int64_t offset, char* out, int64_t length) const {
    if (stopped_ != Refusal::kNone) return -1;
    if (!remote_.Seekable() && !Reach(offset, &length)) {
      if (outOfReach_ < 0 || offset < outOfReach_) outOfReach_ = offset;
      return -1;
    }
    if (!remote_.Seek(offset)) return -1;
    position_ = offset;
    int64_t done = 0;
    while (done < length) {
      const int64_t got = remote_.Read(out + done, length - done);
      if (got <= 0) break;
      done += got;
    }
    position_ = offset + done;
    recentAt_ = offset;
    recent_.assign(out, out + std::min<int64_t>(done, kRecent));
    Check();
    return done > 0 ? done : -1;
  }

  // A server without ranges: the kept start, in order. Brings the
  // connection to `offset` across a short gap; clips `length` to the start.
  bool Reach(int64_t offset, int64_t* length) const {
    if (offset >= bounds_.keptStart) return false;
    *length = std::min(*length, bounds_.keptStart - offset);
    if (remote_.Seek(offset)) return true;
    // Of a known size, padding is read through; a live stream's next box is
    // read only where the last one ended, so that the walk never waits for media.
    const int64_t gap = offset - position_;
    const int64_t through = remote_.Size() >= 0 ? bounds_.readThrough : 0;
    if (gap <= 0 || gap > through || !remote_.Seek(position_)) return false;
    char skip[4096];
    while (position_ < offset) {
      const int64_t got = remote_.Read(skip, std::min<int64_t>(sizeof skip, offset - position_));
      if (got <= 0) return false;
      position_ += got;
    }
    return true;
  }

  void Check() const {
    if (remote_.Requests() - firstRequests_ > bounds_.maxRequests) {
      stopped_ = Refusal::kNetworkCost;
      why_ = "reading its boxes takes more than " + std::to_string(bounds_.maxRequests) +
             " requests to the server, more than the player allows";
    } else if (remote_.Received() - firstReceived_ > bounds_.maxBytes) {
      stopped_ = Refusal::kNetworkCost;
      why_ = "reading its boxes takes more than " + flv_reader::FormatBytes(bounds_.maxBytes) +
             " from the server, more than the player allows";
    }
  }

  Remote& remote_;
  const Bounds& bounds_;
  const int64_t firstRequests_;
  const int64_t firstReceived_;
  mutable std::vector<char> held_;
  mutable int64_t heldAt_ = 0;
  mutable int64_t spanEnd_ = 0;  // where the box the walk is in ends
  mutable std::vector<char> recent_;
  mutable int64_t recentAt_ = 0;
  mutable int64_t position_ = 0;  // where the connection was left
  mutable int64_t outOfReach_ = -1;
  mutable Refusal stopped_ = Refusal::kNone;
  mutable std::string why_;
};

void Refuse(mp4_reader::Facts& facts, Refusal why, std::string text) {
  facts.refusal = why;
  facts.refusalText = std::move(text);
}

// What the walker took for broken boxes at the place it could not read is
// no fault of the file: the problems from there on are dropped.
void ForgetUnread(mp4_reader::Facts& facts, int64_t from) {
  const auto unread = [from](const mp4_reader::Problem& p) { return p.offset >= from; };
  const auto dropped = std::count_if(facts.problems.begin(), facts.problems.end(), unread);
  facts.problems.erase(std::remove_if(facts.problems.begin(), facts.problems.end(), unread),
                       facts.problems.end());
  facts.problemCount -= dropped;
}

}  // namespace

mp4_reader::Facts Walk(Remote& remote, const Bounds& bounds, const mp4_reader::Limits& limits) {
  const RemoteSource source(remote, bounds);
  mp4_reader::Facts facts = mp4_reader::Walk(source, limits);
  // A refusal the walk found before it was stopped stands; any other comes
  // from reads that failed.
  const bool unsure = facts.refusal == Refusal::kNone || facts.refusal == Refusal::kNoHeader;
  if (source.Stopped() != Refusal::kNone) {
    if (unsure) Refuse(facts, source.Stopped(), source.Why());
    return facts;
  }
  const int64_t unreached = source.OutOfReach();
  if (unreached >= 0 && unsure) {
    const std::string kept = std::to_string(bounds.keptStart >> 10) + " KiB";
    if (facts.moovOffset < 0) {
      Refuse(facts, Refusal::kOutOfReach,
             facts.mdatBoxes > 0
                 ? "its movie header comes after the media and the server cannot send parts of "
                   "the file"
                 : "its movie header is not in its first " + kept +
                       " and the server cannot send parts of the file");
    } else if (unreached < facts.moovOffset + facts.moovBytes) {
      Refuse(facts, Refusal::kOutOfReach,
             "its movie header (" + flv_reader::FormatBytes(facts.moovBytes) +
                 ") reaches past its first " + kept +
                 ", all the player can check when the server cannot send parts of the file");
    } else {
      ForgetUnread(facts, unreached);
    }
  }
  if (remote.Size() < 0) {
    // A stream of unknown length: walked as if it never ended.
    facts.fileSize = 0;
  }
  return facts;
}

}  // namespace network_mp4
