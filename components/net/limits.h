#pragma once

#include <cstdint>

// What a server must do to be waited for. Each limit bounds one way a
// server can keep a request alive without delivering, so that no drip
// (a byte now and then, endless headers, a body that never flows) holds a
// request longer than a few of these periods. The defaults let through a
// slow server and the lowest-bitrate live FLV stream (sound alone at 8
// kbit/s is 1 KB/s, and every FLV tag adds 15 bytes).
namespace net {

struct Limits {
  // To resolve the name, connect and finish the TLS handshake, each.
  int connectMs = 10000;
  // From the request sent to the end of the answer's headers.
  int headersMs = 10000;
  // Headers of one answer, interim ones (1xx) included.
  int64_t headerBytes = int64_t{64} << 10;
  // The longest a reader waits for the next byte of the body, the first
  // included.
  int silenceMs = 10000;
  // Once the body flows: at least this many bytes in every window of this
  // many milliseconds spent waiting for them. Time in which nobody reads
  // (a full cache) does not count.
  int64_t minWindowBytes = 4096;
  int windowMs = 10000;
  // Redirects followed for one request, within http and https only.
  int maxRedirects = 5;
};

}  // namespace net
