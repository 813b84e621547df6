#pragma once

#include <QByteArray>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "media/file_handle.h"
#include "media/mkv/file_view.h"

struct mpv_handle;

// Local files reach the engine through the player's own reader: the engine
// is given "tibrok://<n>", never a file name, and reads the descriptor the
// player opened and checked. So the engine cannot be talked into opening
// another file, a name needs no encoding the engine understands, bytes the
// engine must not see (script data it would choke on, stretches it would
// search byte by byte) can be changed or left out on the way, and what the
// player learnt about the file (its length, its keyframes) can go before it,
// or the whole file can be read as another format (the Matroska view of a
// modern FLV). How the bytes are read: local_reader.h. At the end of a file
// that is still growing, a read waits for more (a recording being written
// plays on into what is added), until the file has stopped growing for a
// while or the engine gives up on it.
class LocalStreams {
 public:
  using Patches = std::vector<std::pair<qint64, char>>;
  using Cuts = std::vector<std::pair<qint64, qint64>>;

  // Registers the protocol on `core`; false if the engine refused it.
  bool Register(mpv_handle* core);

  // The address under which the engine reads `file`, with `patches` applied,
  // `prefix` in place of its bytes before `realStart`, and `cuts` ([from, to)
  // in the file) left out; from `end` on (unless -1) the file ends for the
  // engine, though it is longer.
  QByteArray Add(std::shared_ptr<const FileHandle> file, Patches patches, QByteArray prefix = {},
                 qint64 realStart = 0, Cuts cuts = {}, qint64 end = -1);

  // The address under which the engine reads `view`, the Matroska view of
  // `file`.
  QByteArray Add(std::shared_ptr<const FileHandle> file, std::shared_ptr<const mkv::FileView> view);

  // How long a read at the end of a growing file waits for it to grow.
  static constexpr int kGrowthWaitMs = 3000;

 private:
  struct Entry {
    std::shared_ptr<const FileHandle> file;
    Patches patches;
    QByteArray prefix;
    qint64 realStart = 0;
    Cuts cuts;
    qint64 end = -1;
    std::shared_ptr<const mkv::FileView> view;
  };
  QByteArray AddEntry(Entry entry);
  static int Open(void* self, char* uri, struct mpv_stream_cb_info* info);

  std::mutex mutex_;
  std::map<quint64, Entry> entries_;
  quint64 next_ = 1;
};
