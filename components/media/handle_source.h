#pragma once

#include <memory>

#include "media/file_handle.h"
#include "media/flv/byte_source.h"

// The FLV reader's view of a file the player opened, keeping the file open
// for as long as the source lives (a stream the engine reads may outlive the
// inspection that opened it).
class HandleSource final : public flv_reader::ByteSource {
 public:
  explicit HandleSource(std::shared_ptr<const FileHandle> file) : file_(std::move(file)) {}
  int64_t Size() const override { return file_->Size(); }
  int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const override {
    return file_->ReadAt(offset, static_cast<char*>(buffer), length);
  }

 private:
  std::shared_ptr<const FileHandle> file_;
};
