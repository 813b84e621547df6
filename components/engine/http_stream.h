#pragma once

#include <QByteArray>
#include <map>
#include <memory>
#include <mutex>

#include "net/http_file.h"

struct mpv_handle;

// http(s) addresses reach the engine through the player's own client: the
// player opens the connection, looks at what it brings, and the engine reads
// that same connection as "tibroknet://<n>". So the engine's own http, tls
// and tcp protocols are never used: every request follows the player's
// rules (certificates checked, drips given up, redirects within http(s)).
// A seek becomes a range request where the server does ranges; otherwise
// the stream is live and the engine cannot seek in it. A modern FLV (HEVC as
// codec id 12, enhanced FLV) is turned into Matroska as it is read, in
// order, with bounded memory: the engine reads it as a live stream.
class HttpStreams {
 public:
  // Registers the protocol on `core`; false if the engine refused it.
  bool Register(mpv_handle* core);

  // The address under which the engine reads `file`, from its start, as
  // Matroska when `modern`.
  QByteArray Add(std::shared_ptr<net::HttpFile> file, bool modern = false);
  // The same for an address the player has opened before (a second reader,
  // such as the seek bar's previews): the engine's reader connects to it
  // through the player's client when it opens the stream.
  QByteArray Add(const std::string& url, bool modern = false);

 private:
  struct Entry {
    std::shared_ptr<net::HttpFile> file;
    std::string url;
    bool modern = false;
  };
  static int Open(void* self, char* uri, struct mpv_stream_cb_info* info);

  std::mutex mutex_;
  std::map<quint64, Entry> entries_;
  quint64 next_ = 1;
};
