#include "engine/local_stream.h"

#include <mpv/client.h>
#include <mpv/stream_cb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/local_reader.h"

namespace {

constexpr char kProtocol[] = "tibrok";
// Addresses handed out but not yet opened: a few, since every load replaces
// the one before.
constexpr std::size_t kKeptEntries = 4;
constexpr auto kGrowthPoll = std::chrono::milliseconds(50);

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

// The Matroska view of a modern FLV: its bytes are made from the tags, so
// cuts and patches do not apply; at its end it waits for a growing file as
// the plain reader does.
struct ViewReader {
  std::shared_ptr<const FileHandle> file;
  mkv::MatroskaReader matroska;
  qint64 position = 0;
  qint64 sizeAtOpen = 0;
  std::atomic<bool> cancelled{false};
};

int64_t ViewRead(void* cookie, char* buffer, uint64_t size) {
  auto& reader = *static_cast<ViewReader*>(cookie);
  auto quietSince = std::chrono::steady_clock::now();
  qint64 lastSize = reader.file->Size();
  for (;;) {
    const qint64 got =
        reader.matroska.Read(reader.position, reinterpret_cast<uint8_t*>(buffer), qint64(size));
    if (got < 0) return -1;
    if (got > 0) {
      reader.position += got;
      return got;
    }
    // A file that has not grown since it was opened is just at its end,
    // unless it ends inside a tag (the view makes nothing of a tag until it
    // is whole): a recorder is still writing it.
    const qint64 now = reader.file->Size();
    if (now <= reader.sizeAtOpen && lastSize <= reader.sizeAtOpen &&
        !reader.matroska.EndsInsideATag()) {
      return 0;
    }
    if (now != lastSize) {
      lastSize = now;
      quietSince = std::chrono::steady_clock::now();
    }
    if (reader.cancelled || std::chrono::steady_clock::now() - quietSince >
                                std::chrono::milliseconds(LocalStreams::kGrowthWaitMs)) {
      return 0;
    }
    std::this_thread::sleep_for(kGrowthPoll);
  }
}

int64_t ViewSeek(void* cookie, int64_t offset) {
  if (offset < 0) return MPV_ERROR_GENERIC;
  static_cast<ViewReader*>(cookie)->position = offset;
  return offset;
}

int64_t ViewSize(void* cookie) {
  const qint64 size = static_cast<ViewReader*>(cookie)->matroska.Size();
  return size < 0 ? int64_t{MPV_ERROR_UNSUPPORTED} : int64_t{size};
}

void ViewCancel(void* cookie) { static_cast<ViewReader*>(cookie)->cancelled = true; }

void ViewClose(void* cookie) { delete static_cast<ViewReader*>(cookie); }

}  // namespace

bool LocalStreams::Register(mpv_handle* core) {
  return mpv_stream_cb_add_ro(core, kProtocol, this, &LocalStreams::Open) >= 0;
}

QByteArray LocalStreams::Add(std::shared_ptr<const FileHandle> file, Patches patches,
                             QByteArray prefix, qint64 realStart, Cuts cuts, qint64 end) {
  std::sort(patches.begin(), patches.end());
  std::sort(cuts.begin(), cuts.end());
  return AddEntry(Entry{
      std::move(file), std::move(patches), std::move(prefix), realStart, std::move(cuts), end, {}});
}

QByteArray LocalStreams::Add(std::shared_ptr<const FileHandle> file,
                             std::shared_ptr<const mkv::FileView> view) {
  return AddEntry(Entry{std::move(file), {}, {}, 0, {}, -1, std::move(view)});
}

QByteArray LocalStreams::AddEntry(Entry entry) {
  const std::lock_guard lock(mutex_);
  const quint64 id = next_++;
  entries_[id] = std::move(entry);
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
  if (e.view) {
    auto* reader = new ViewReader{e.file, mkv::MatroskaReader(e.view), 0, e.file->Size(), {}};
    info->cookie = reader;
    info->read_fn = &ViewRead;
    info->seek_fn = &ViewSeek;
    info->size_fn = &ViewSize;
    info->close_fn = &ViewClose;
    info->cancel_fn = &ViewCancel;
    return 0;
  }
  LocalReader::Setup setup{e.file, e.patches, e.prefix, e.realStart, e.cuts};
  setup.end = e.end;
  info->cookie = new LocalReader(std::move(setup));
  info->read_fn = &Read;
  info->seek_fn = &Seek;
  info->size_fn = &Size;
  info->close_fn = &Close;
  info->cancel_fn = &Cancel;
  return 0;
}
