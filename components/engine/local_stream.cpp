#include "local_stream.h"

#include <mpv/client.h>
#include <mpv/stream_cb.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr char kProtocol[] = "tibrok";
// Addresses handed out but not yet opened: a few, since every load replaces
// the one before.
constexpr std::size_t kKeptEntries = 4;

struct Reader {
  std::shared_ptr<const FileHandle> file;
  LocalStreams::Patches patches;  // sorted by offset
  qint64 position = 0;
};

int64_t Read(void* cookie, char* buffer, uint64_t size) {
  auto* reader = static_cast<Reader*>(cookie);
  const qint64 got = reader->file->ReadAt(reader->position, buffer, qint64(size));
  if (got < 0) return -1;
  const qint64 end = reader->position + got;
  auto patch = std::lower_bound(reader->patches.begin(), reader->patches.end(),
                                std::make_pair(reader->position, char(-128)));
  for (; patch != reader->patches.end() && patch->first < end; ++patch) {
    buffer[patch->first - reader->position] = patch->second;
  }
  reader->position = end;
  return got;
}

int64_t Seek(void* cookie, int64_t offset) {
  auto* reader = static_cast<Reader*>(cookie);
  if (offset < 0) return MPV_ERROR_GENERIC;
  reader->position = offset;
  return offset;
}

int64_t Size(void* cookie) {
  const qint64 size = static_cast<Reader*>(cookie)->file->Size();
  return size < 0 ? int64_t{MPV_ERROR_UNSUPPORTED} : int64_t{size};
}

void Close(void* cookie) { delete static_cast<Reader*>(cookie); }

}  // namespace

bool LocalStreams::Register(mpv_handle* core) {
  return mpv_stream_cb_add_ro(core, kProtocol, this, &LocalStreams::Open) >= 0;
}

QByteArray LocalStreams::Add(std::shared_ptr<const FileHandle> file, Patches patches) {
  std::sort(patches.begin(), patches.end());
  const std::lock_guard lock(mutex_);
  const quint64 id = next_++;
  entries_[id] = Entry{std::move(file), std::move(patches)};
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
  info->cookie = new Reader{entry->second.file, entry->second.patches};
  info->read_fn = &Read;
  info->seek_fn = &Seek;
  info->size_fn = &Size;
  info->close_fn = &Close;
  return 0;
}
