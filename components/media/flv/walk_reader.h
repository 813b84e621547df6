#pragma once

#include <cstdint>
#include <vector>

#include "media/flv/byte_source.h"

// The walk's one way into the file: a buffer that holds a large window while
// tags are small and only the bytes around a header while they are large, so
// that memory stays bounded whatever the file. It keeps the file's size as
// one pass sees it, and lowers it where the bytes turn out to end sooner.
namespace flv_reader::walk {

class Reader {
 public:
  Reader(const ByteSource& source, int64_t readAhead);

  // Forgets every byte read: a writer may have rewritten them since.
  void Reset(int64_t size);
  int64_t size() const { return size_; }
  bool failed() const { return failed_; }
  void Sparse(bool sparse) { sparse_ = sparse; }

  // Bytes [offset, offset + n), or null when they are not all in the file.
  // The pointer stays valid until the next call.
  const uint8_t* Get(int64_t offset, int64_t n);

 private:
  const ByteSource& source_;
  int64_t readAhead_;
  bool sparse_ = false;
  std::vector<uint8_t> buffer_;
  int64_t start_ = 0;
  int64_t len_ = 0;
  int64_t size_ = 0;
  bool failed_ = false;
};

}  // namespace flv_reader::walk
