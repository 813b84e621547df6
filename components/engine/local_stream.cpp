#include "engine/local_stream.h"

#include <mpv/client.h>
#include <mpv/stream_cb.h>

#include <algorithm>
#include <cstring>

#include "engine/local_reader.h"

namespace {

constexpr char kProtocol[] = "tibrok";
// Addresses handed out but not yet opened: a few, since every load replaces
// the one before.
constexpr std::size_t kKeptEntries = 4;

int64_t Read(void* cookie, char* buffer, uint64_t size) {
  return static_cast<LocalReader*>(cookie)->Read(buffer, qint64(size));
}

int64_t Seek(void* cookie, int64_t offset) {
  if (offset < 0) return MPV_ERROR_GENERIC;
  static_cast<LocalReader*>(cookie)->Seek(offset);
  return offset;
}

int64_t Size(void* cookie) {
  const qint64 size = static_cast<LocalReader*>(cookie)->Size();
  return size < 0 ? int64_t{MPV_ERROR_UNSUPPORTED} : int64_t{size};
}

// The engine stops reading (a stop, a new file, its end): a read waiting for
// a growing file gives up. Called more than once, and from another thread.
void Cancel(void* cookie) { static_cast<LocalReader*>(cookie)->Cancel(); }

void Close(void* cookie) { delete static_cast<LocalReader*>(cookie); }

}  // namespace

bool LocalStreams::Register(mpv_handle* core) {
  return mpv_stream_cb_add_ro(core, kProtocol, this, &LocalStreams::Open) >= 0;
}

QByteArray LocalStreams::Add(std::shared_ptr<const FileHandle> file, Patches patches,
                             QByteArray prefix, qint64 realStart, Cuts cuts) {
  std::sort(patches.begin(), patches.end());
  std::sort(cuts.begin(), cuts.end());
  const std::lock_guard lock(mutex_);
  const quint64 id = next_++;
  entries_[id] =
      Entry{std::move(file), std::move(patches), std::move(prefix), realStart, std::move(cuts)};
  while (entries_.size() > kKeptEntries) entries_.erase(entries_.begin());
  return QByteArray(kProtocol) + "://" + QByteArray::number(id);
}

int LocalStreams::Open(void* self, char* uri, mpv_stream_cb_info* info) {
  auto* streams = static_cast<LocalStreams*>(self);
  const QByteArray prefix = QByteArray(kProtocol) + "://";
  if (std::strncmp(uri, prefix.constData(), size_t(prefix.size())) != 0) {
    return MPV_ERROR_LOADING_FAILED;
  }
  bool number = false;
  const quint64 id = QByteArray(uri + prefix.size()).toULongLong(&number);
  const std::lock_guard lock(streams->mutex_);
  const auto entry = streams->entries_.find(id);
  if (!number || entry == streams->entries_.end()) return MPV_ERROR_LOADING_FAILED;
  const Entry& e = entry->second;
  info->cookie = new LocalReader({e.file, e.patches, e.prefix, e.realStart, e.cuts});
  info->read_fn = &Read;
  info->seek_fn = &Seek;
  info->size_fn = &Size;
  info->close_fn = &Close;
  info->cancel_fn = &Cancel;
  return 0;
}
