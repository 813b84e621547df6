#pragma once

#include <cstdint>

#include "media/mp4/facts.h"
#include "net/http_file.h"

// An MP4 on an http(s) server is checked as a local one is (mp4/walker.h)
// before the engine is given it: its boxes are read through the player's
// own connection, every request under the client's rules, and what the
// engine must not be given is refused with the reason. The media data is
// never read to get past it: where the server does ranges, a jump over it
// is one range request; where it does not, the walk reads only the file's
// kept start, in order, so that the engine can still read from byte 0.
namespace network_mp4 {

// What the walk reads through: the player's connection, or a stand-in.
// Read, Seek, Size and Seekable behave as net::HttpFile's.
class Remote {
 public:
  virtual ~Remote() = default;
  virtual int64_t Read(char* buffer, int64_t size) = 0;
  virtual bool Seek(int64_t offset) = 0;
  virtual int64_t Size() const = 0;      // -1: unknown
  virtual bool Seekable() const = 0;     // ranges, and a known size
  virtual int64_t Requests() const = 0;  // made so far, over the connection's life
  virtual int64_t Received() const = 0;  // bytes, likewise
};

// What one walk may cost. A whole file needs one or two requests (its start,
// and a movie header after the media); every fragment whose media the
// client cannot read through costs one more.
struct Bounds {
  int64_t maxRequests = 64;
  int64_t maxBytes = int64_t{192} << 20;
  // A box the walk reads in any order (the movie header's tables, a
  // fragment) is fetched whole and kept while it is read, up to this size.
  // Sample tables at the walker's sample bounds take less.
  int64_t maxHeld = int64_t{128} << 20;
  // What a server without ranges can be read again from (the client's kept
  // start): the walk reads no further there.
  int64_t keptStart = net::HttpFile::kHeadBytes;
  // A server without ranges, of a known size: a gap between two boxes this
  // short is read through (padding); a longer one is media and ends the walk.
  int64_t readThrough = int64_t{64} << 10;
};

// Walks the MP4 `remote` holds from its start. The facts are as for a local
// file; over a server of unknown size they hold no cut. Refused as a local
// file is, and also when the walk would cost more than `bounds`, or when
// the movie header is out of reach of a server without ranges ("its movie
// header comes after the media and the server cannot send parts of the
// file"). `remote` is left anywhere: the caller seeks it back to 0.
mp4_reader::Facts Walk(Remote& remote, const Bounds& bounds = {},
                       const mp4_reader::Limits& limits = {});

// The player's connection as a Remote; the file outlives it.
class HttpRemote final : public Remote {
 public:
  explicit HttpRemote(net::HttpFile& file) : file_(file) {}
  int64_t Read(char* buffer, int64_t size) override { return file_.Read(buffer, size); }
  bool Seek(int64_t offset) override { return file_.Seek(offset); }
  int64_t Size() const override { return file_.Size(); }
  bool Seekable() const override { return file_.Seekable(); }
  int64_t Requests() const override { return file_.Requests(); }
  int64_t Received() const override { return file_.Received(); }

 private:
  net::HttpFile& file_;
};

}  // namespace network_mp4
