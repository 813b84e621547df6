#pragma once

#include <QString>
#include <memory>

#include "media/local_file.h"
#include "media/mp4/facts.h"
#include "net/cancel.h"
#include "net/http_file.h"
#include "net/limits.h"

// What the player learns about an http(s) address before the engine sees
// it: the player connects itself (its own client, net/), reads the first
// bytes and decides what they are exactly as for a local file: FLV (and for
// an FLV, whether it writes its codecs the modern way, which the engine
// reads only as Matroska) or MP4, or refused with what it looks like. The open connection, with the
// bytes read, then goes to the engine. It waits on the network, so it runs off the GUI thread; a
// cancel ends it within a tenth of a second.
namespace network_file {

struct Opening {
  // Why it is not played, to finish "Cannot play "x": ..."; empty when it
  // may be.
  QString error;
  // Where the address led, when it redirected (also when it then failed).
  QString redirectedTo;
  local_file::Format format = local_file::Format::kFlv;
  // MP4: what its boxes claim, walked over the connection (network_mp4.h).
  mp4_reader::Facts mp4;
  // Open, at its start; null when refused.
  std::shared_ptr<net::HttpFile> file;
};

Opening Open(const QString& url, net::Cancel cancel, const net::Limits& limits = {});

}  // namespace network_file
