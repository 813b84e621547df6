#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Random access to the bytes of one FLV file, or of the part of it that is at
// hand. Sources are read-only and never cache a file's size: a recording that
// is still being written grows between two calls to Size().
namespace flv_reader {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The whole file's size now.
  virtual int64_t Size() const = 0;
  // Copies up to `length` bytes from `offset` into `buffer` and says how many:
  // fewer at the end of the file or of the bytes held, 0 when none are held
  // there, -1 on a read error.
  virtual int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const = 0;
  // The first offset held: 0 for a whole file, later for a tail fetched alone.
  virtual int64_t FirstHeld() const { return 0; }
  // The first offset from `offset` on that may hold anything but zeros: past
  // a hole the file system knows of (a region never written, which takes no
  // room on disk), `offset` itself where nothing is known, and Size() when
  // only holes follow. Stepping over holes costs nothing; reading them costs
  // as much as reading data.
  virtual int64_t NextData(int64_t offset) const { return offset; }
  // Says that the reader is about to read within these bytes, in any order
  // and perhaps more than once. A source over a network fetches them in one
  // piece rather than a request for every jump; one at hand ignores it.
  virtual void WillRead(int64_t /*offset*/, int64_t /*length*/) const {}
};

// A local file read with pread(), so that several readers may share one
// descriptor. Size() asks the file system every time.
class FileSource final : public ByteSource {
 public:
  // Reads through `fd`, which the caller keeps open for the source's life.
  explicit FileSource(int fd) : fd_(fd), owned_(false) {}
  // Opens `path`; null on failure, with the system's reason in `error`.
  static std::unique_ptr<FileSource> Open(const std::string& path, std::string* error = nullptr);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  int64_t Size() const override;
  int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const override;
  // By lseek(SEEK_DATA), which moves only the descriptor's own offset: every
  // read here and by the descriptor's other users takes an offset of its own.
  int64_t NextData(int64_t offset) const override;

 private:
  FileSource(int fd, bool owned) : fd_(fd), owned_(owned) {}
  int fd_;
  bool owned_;
};

// Bytes in memory that stand for the file from `offsetInFile` on: a whole file
// (offset 0), or only its tail, as an http Range request fetches it. The whole
// file is `fileSize` bytes; -1 means it ends where the bytes end.
class MemorySource final : public ByteSource {
 public:
  // A view: the caller keeps `bytes` alive and unchanged.
  explicit MemorySource(std::span<const uint8_t> bytes, int64_t offsetInFile = 0,
                        int64_t fileSize = -1);
  // The same, owning its bytes.
  explicit MemorySource(std::vector<uint8_t> bytes, int64_t offsetInFile = 0,
                        int64_t fileSize = -1);
  MemorySource(const MemorySource&) = delete;
  MemorySource& operator=(const MemorySource&) = delete;

  int64_t Size() const override { return fileSize_; }
  int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const override;
  int64_t FirstHeld() const override { return offset_; }

 private:
  std::vector<uint8_t> owned_;
  std::span<const uint8_t> bytes_;
  int64_t offset_;
  int64_t fileSize_;
};

}  // namespace flv_reader
