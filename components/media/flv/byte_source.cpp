#include "media/flv/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace flv_reader {

std::unique_ptr<FileSource> FileSource::Open(const std::string& path, std::string* error) {
  // Non-blocking, so that a FIFO does not wait for a writer (regular files
  // ignore the flag).
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<FileSource>(new FileSource(fd, true));
}

FileSource::~FileSource() {
  if (owned_) ::close(fd_);
}

int64_t FileSource::Size() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return -1;
  return info.st_size;
}

int64_t FileSource::ReadAt(int64_t offset, void* buffer, int64_t length) const {
  if (offset < 0 || length < 0) return -1;
  auto* out = static_cast<char*>(buffer);
  int64_t done = 0;
  // pread may return less than asked before the end (signals, some file
  // systems); only 0 means the end.
  while (done < length) {
    const ssize_t got = ::pread(fd_, out + done, static_cast<size_t>(length - done), offset + done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

int64_t FileSource::NextData(int64_t offset) const {
  const off_t data = ::lseek(fd_, offset, SEEK_DATA);
  if (data >= 0) return std::max<int64_t>(data, offset);
  // ENXIO: no data from `offset` to the end. Anything else (a file system
  // that cannot tell): nothing is known.
  return errno == ENXIO ? std::max(Size(), offset) : offset;
}

MemorySource::MemorySource(std::span<const uint8_t> bytes, int64_t offsetInFile, int64_t fileSize)
    : bytes_(bytes),
      offset_(std::max<int64_t>(0, offsetInFile)),
      fileSize_(std::max<int64_t>(fileSize, offset_ + static_cast<int64_t>(bytes.size()))) {}

MemorySource::MemorySource(std::vector<uint8_t> bytes, int64_t offsetInFile, int64_t fileSize)
    : owned_(std::move(bytes)),
      bytes_(owned_),
      offset_(std::max<int64_t>(0, offsetInFile)),
      fileSize_(std::max<int64_t>(fileSize, offset_ + static_cast<int64_t>(owned_.size()))) {}

int64_t MemorySource::ReadAt(int64_t offset, void* buffer, int64_t length) const {
  if (offset < 0 || length < 0) return -1;
  const int64_t held = static_cast<int64_t>(bytes_.size());
  if (offset < offset_ || offset >= offset_ + held) return 0;
  const int64_t from = offset - offset_;
  const int64_t n = std::min(length, held - from);
  std::memcpy(buffer, bytes_.data() + from, static_cast<size_t>(n));
  return n;
}

}  // namespace flv_reader
