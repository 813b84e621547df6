#include "engine/http_stream.h"

#include <mpv/client.h>
#include <mpv/stream_cb.h>

#include <cstring>
#include <span>

#include "media/mkv/live_muxer.h"

namespace {

constexpr char kProtocol[] = "tibroknet";
// Connections handed out but not yet opened by the engine: every load
// replaces the one before, and an old one is only a socket held open.
constexpr std::size_t kKeptEntries = 2;

net::HttpFile& FileOf(void* cookie) {
  return **static_cast<std::shared_ptr<net::HttpFile>*>(cookie);
}

int64_t Read(void* cookie, char* buffer, uint64_t size) {
  const int64_t got = FileOf(cookie).Read(buffer, int64_t(size));
  return got < 0 ? int64_t{MPV_ERROR_GENERIC} : got;
}

int64_t Seek(void* cookie, int64_t offset) {
  return FileOf(cookie).Seek(offset) ? offset : int64_t{MPV_ERROR_UNSUPPORTED};
}

int64_t Size(void* cookie) {
  const int64_t size = FileOf(cookie).Size();
  return size < 0 ? int64_t{MPV_ERROR_UNSUPPORTED} : size;
}

// The engine stops reading (a stop, a new file): a read waiting on the
// server returns within a tenth of a second. Called from another thread.
void Cancel(void* cookie) { FileOf(cookie).Cancel(); }

void Close(void* cookie) { delete static_cast<std::shared_ptr<net::HttpFile>*>(cookie); }

// A modern FLV stream, turned into Matroska as it comes: the FLV is read a
// piece at a time and each piece pushed through before more is read, so
// what waits to be read stays small.
struct Modern {
  std::shared_ptr<net::HttpFile> file;
  mkv::LiveMuxer muxer;
  bool ended = false;
};

constexpr int64_t kPiece = 64 << 10;

int64_t ModernRead(void* cookie, char* buffer, uint64_t size) {
  auto* modern = static_cast<Modern*>(cookie);
  while (modern->muxer.Pending() == 0 && !modern->ended) {
    static thread_local char piece[kPiece];
    const int64_t got = modern->file->Read(piece, kPiece);
    if (got < 0) return MPV_ERROR_GENERIC;
    if (got == 0) {
      modern->muxer.Finish();
      modern->ended = true;
      break;
    }
    if (!modern->muxer.Push(std::span(reinterpret_cast<const uint8_t*>(piece), size_t(got)))) {
      return MPV_ERROR_GENERIC;
    }
  }
  return int64_t(modern->muxer.Pull(reinterpret_cast<uint8_t*>(buffer), size_t(size)));
}

void ModernCancel(void* cookie) { static_cast<Modern*>(cookie)->file->Cancel(); }

void ModernClose(void* cookie) { delete static_cast<Modern*>(cookie); }

}  // namespace

bool HttpStreams::Register(mpv_handle* core) {
  return mpv_stream_cb_add_ro(core, kProtocol, this, &HttpStreams::Open) >= 0;
}

QByteArray HttpStreams::Add(std::shared_ptr<net::HttpFile> file, bool modern) {
  const std::lock_guard lock(mutex_);
  const quint64 id = next_++;
  entries_[id] = Entry{std::move(file), {}, modern};
  while (entries_.size() > kKeptEntries) entries_.erase(entries_.begin());
  return QByteArray(kProtocol) + "://" + QByteArray::number(id);
}

QByteArray HttpStreams::Add(const std::string& url, bool modern) {
  const std::lock_guard lock(mutex_);
  const quint64 id = next_++;
  entries_[id] = Entry{nullptr, url, modern};
  while (entries_.size() > kKeptEntries) entries_.erase(entries_.begin());
  return QByteArray(kProtocol) + "://" + QByteArray::number(id);
}

int HttpStreams::Open(void* self, char* uri, mpv_stream_cb_info* info) {
  auto* streams = static_cast<HttpStreams*>(self);
  const QByteArray prefix = QByteArray(kProtocol) + "://";
  if (std::strncmp(uri, prefix.constData(), size_t(prefix.size())) != 0) {
    return MPV_ERROR_LOADING_FAILED;
  }
  bool number = false;
  const quint64 id = QByteArray(uri + prefix.size()).toULongLong(&number);
  Entry taken;
  {
    const std::lock_guard lock(streams->mutex_);
    const auto entry = streams->entries_.find(id);
    if (!number || entry == streams->entries_.end()) return MPV_ERROR_LOADING_FAILED;
    // One reader per connection: the entry is handed over, not shared.
    taken = std::move(entry->second);
    streams->entries_.erase(entry);
  }
  if (!taken.file) {
    // The engine's own thread waits here, within the client's limits.
    net::Opened failure;
    taken.file = net::HttpFile::Open(taken.url, net::Limits{}, std::make_shared<net::CancelFlag>(),
                                     &failure);
    if (!taken.file) return MPV_ERROR_LOADING_FAILED;
  }
  if (taken.modern) {
    if (!taken.file->Seek(0)) return MPV_ERROR_LOADING_FAILED;
    auto* modern = new Modern{std::move(taken.file), {}, false};
    info->cookie = modern;
    info->read_fn = &ModernRead;
    // Read in order only: no seeks, no size.
    info->seek_fn = nullptr;
    info->size_fn = nullptr;
    info->close_fn = &ModernClose;
    info->cancel_fn = &ModernCancel;
    return 0;
  }
  auto* file = new std::shared_ptr<net::HttpFile>(std::move(taken.file));
  if (!(*file)->Seek(0)) {
    delete file;
    return MPV_ERROR_LOADING_FAILED;
  }
  info->cookie = file;
  info->read_fn = &Read;
  // The engine tries a seek to the start when it opens: a live stream says
  // no, and is read as one.
  info->seek_fn = (*file)->Seekable() ? &Seek : nullptr;
  info->size_fn = &Size;
  info->close_fn = &Close;
  info->cancel_fn = &Cancel;
  return 0;
}
