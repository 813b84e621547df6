#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whether the last bytes of an http(s) FLV, fetched by a request of their
// own, belong to the file whose start the player holds. A server may answer
// that request from another file (a cache, a load balancer, on purpose):
// its timestamps would then set the length of this one. The tail fits when
// its Content-Range names the size of the main answer, its tags hold the
// codecs the start's tags hold, its last timestamp is not before the
// start's first, and the length it gives leaves the file a plausible number
// of bytes a second.
namespace network_tail {

// The fetched bytes: `bytes` from offset `first` of a file of `total`.
struct Tail {
  std::vector<uint8_t> bytes;
  int64_t first = 0;
  int64_t total = -1;
};

// The last frame's timestamp (ms on the file's clock) when `tail` fits the
// file whose first bytes are `head` and whose size the main answer gave as
// `size`; -1 when it does not fit or holds no complete tag.
int64_t EndIfItFits(const std::string& head, int64_t size, const Tail& tail);

}  // namespace network_tail
