#pragma once

#include <QtGlobal>

// A read-only file descriptor, closed with its last owner. Reads take an
// offset (pread), so several readers on different threads can share one.
class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  int fd() const { return fd_; }
  // Bytes read at `offset`, fewer at the end of the file; -1 on an error.
  qint64 ReadAt(qint64 offset, char* data, qint64 size) const;
  // The size now: a file still being written grows.
  qint64 Size() const;
  // The first offset from `offset` on that may hold anything but zeros: past
  // a hole the file system knows of; `offset` itself when it cannot tell;
  // -1 when only holes follow, up to the end.
  qint64 NextData(qint64 offset) const;

 private:
  int fd_;
};
