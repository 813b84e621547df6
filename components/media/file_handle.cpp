#include "media/file_handle.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

qint64 FileHandle::ReadAt(qint64 offset, char* data, qint64 size) const {
  qint64 done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, data + done, size_t(size - done), off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? done : -1;
    if (n == 0) break;
    done += n;
  }
  return done;
}

qint64 FileHandle::NextData(qint64 offset) const {
  // lseek moves only the descriptor's own offset, which no read here uses.
  const off_t data = ::lseek(fd_, off_t(offset), SEEK_DATA);
  if (data >= 0) return std::max(qint64(data), offset);
  return errno == ENXIO ? -1 : offset;
}

qint64 FileHandle::Size() const {
  struct stat info {};
  return ::fstat(fd_, &info) == 0 ? qint64(info.st_size) : -1;
}
