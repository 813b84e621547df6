#include "engine/local_stream.h"

#include <mpv/client.h>
#include <mpv/stream_cb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr char kProtocol[] = "tibrok";
// Addresses handed out but not yet opened: a few, since every load replaces
// the one before.
constexpr std::size_t kKeptEntries = 4;
constexpr auto kGrowthPoll = std::chrono::milliseconds(50);

// One open stream: the bytes the engine sees are the prefix, then the file
// from realStart on, patched.
struct Reader {
  std::shared_ptr<const FileHandle> file;
  LocalStreams::Patches patches;  // sorted by offset in the file
  QByteArray prefix;
  qint64 realStart = 0;
  qint64 end = -1;      // in the file; -1: none
  qint64 position = 0;  // in the bytes the engine sees
  qint64 sizeAtOpen = 0;
  std::atomic<bool> cancelled{false};
  // The Matroska view of the file, in place of its own bytes.
  std::unique_ptr<mkv::MatroskaReader> matroska;

  qint64 ToFile(qint64 seen) const { return seen - prefix.size() + realStart; }
  qint64 FileSize() const {
    const qint64 size = file->Size();
    return end >= 0 && size > end ? end : size;
  }
  qint64 Size() const {
    if (matroska) return matroska->Size();
    const qint64 size = FileSize();
    return size < 0 ? -1 : std::max<qint64>(size - realStart, 0) + prefix.size();
  }
  // What is there now at `at`: the file patched, or the view.
  qint64 ReadNow(qint64 at, char* buffer, qint64 size) {
    if (matroska) return matroska->Read(at, reinterpret_cast<uint8_t*>(buffer), size);
    const qint64 got = file->ReadAt(at, buffer, size);
    if (got <= 0) return got;
    const qint64 end = at + got;
    auto patch = std::lower_bound(patches.begin(), patches.end(), std::make_pair(at, char(-128)));
    for (; patch != patches.end() && patch->first < end; ++patch) {
      buffer[patch->first - at] = patch->second;
    }
    return got;
  }
};

// Reads at `at` (in the file, or in its view); waits a while at the end of a
// file that has grown since it was opened.
qint64 ReadFile(Reader& reader, qint64 at, char* buffer, qint64 size) {
  if (reader.end >= 0) {
    // Nothing grows past a set end.
    if (at >= reader.end) return 0;
    size = std::min(size, reader.end - at);
  }
  auto quietSince = std::chrono::steady_clock::now();
  qint64 lastSize = reader.file->Size();
  for (;;) {
    const qint64 got = reader.ReadNow(at, buffer, size);
    if (got != 0) return got < 0 ? -1 : got;
    // A file that has not grown since it was opened is just at its end,
    // unless it ends inside a tag (the view makes nothing of a tag until it
    // is whole): a recorder is still writing it.
    const qint64 now = reader.file->Size();
    const bool midTag = reader.matroska && reader.matroska->EndsInsideATag();
    if (now <= reader.sizeAtOpen && lastSize <= reader.sizeAtOpen && !midTag) return 0;
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

int64_t Read(void* cookie, char* buffer, uint64_t size) {
  auto* reader = static_cast<Reader*>(cookie);
  const qint64 want = qint64(size);
  if (reader->position < reader->prefix.size()) {
    const qint64 n = std::min(want, reader->prefix.size() - reader->position);
    std::memcpy(buffer, reader->prefix.constData() + reader->position, size_t(n));
    reader->position += n;
    return n;
  }
  const qint64 at = reader->matroska ? reader->position : reader->ToFile(reader->position);
  const qint64 got = ReadFile(*reader, at, buffer, want);
  if (got > 0) reader->position += got;
  return got;
}

int64_t Seek(void* cookie, int64_t offset) {
  auto* reader = static_cast<Reader*>(cookie);
  if (offset < 0) return MPV_ERROR_GENERIC;
  reader->position = offset;
  return offset;
}

int64_t Size(void* cookie) {
  const qint64 size = static_cast<Reader*>(cookie)->Size();
  return size < 0 ? int64_t{MPV_ERROR_UNSUPPORTED} : int64_t{size};
}

// The engine stops reading (a stop, a new file, its end): a read waiting for
// a growing file gives up. Called more than once, and from another thread.
void Cancel(void* cookie) { static_cast<Reader*>(cookie)->cancelled = true; }

void Close(void* cookie) { delete static_cast<Reader*>(cookie); }

}  // namespace

bool LocalStreams::Register(mpv_handle* core) {
  return mpv_stream_cb_add_ro(core, kProtocol, this, &LocalStreams::Open) >= 0;
}

QByteArray LocalStreams::Add(std::shared_ptr<const FileHandle> file, Patches patches,
                             QByteArray prefix, qint64 realStart, qint64 end) {
  std::sort(patches.begin(), patches.end());
  if (prefix.isEmpty()) realStart = 0;
  return AddEntry(
      Entry{std::move(file), std::move(patches), std::move(prefix), realStart, end, {}});
}

QByteArray LocalStreams::Add(std::shared_ptr<const FileHandle> file,
                             std::shared_ptr<const mkv::FileView> view) {
  return AddEntry(Entry{std::move(file), {}, {}, 0, -1, std::move(view)});
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
  auto* reader = new Reader;
  reader->file = entry->second.file;
  reader->patches = entry->second.patches;
  reader->prefix = entry->second.prefix;
  reader->realStart = entry->second.realStart;
  reader->end = entry->second.end;
  if (entry->second.view) {
    reader->matroska = std::make_unique<mkv::MatroskaReader>(entry->second.view);
  }
  reader->sizeAtOpen = reader->file->Size();
  info->cookie = reader;
  info->read_fn = &Read;
  info->seek_fn = &Seek;
  info->size_fn = &Size;
  info->close_fn = &Close;
  info->cancel_fn = &Cancel;
  return 0;
}
