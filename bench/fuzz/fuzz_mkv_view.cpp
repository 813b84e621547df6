// libFuzzer entry for the Matroska view of modern FLV. Each input is an FLV
// read the ways the engine reads its view: in order, and at offsets all over
// it from a reader sent back and forth, as a file that grows, and pushed
// through the live form in pieces. Besides crashes, hangs and huge
// allocations, it stops when two readings of the same bytes disagree, or
// when a read gives more than was asked.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "media/flv/walker.h"
#include "media/mkv/file_view.h"
#include "media/mkv/live_muxer.h"

namespace {

using namespace flv_reader;

class Prefix final : public ByteSource {
 public:
  explicit Prefix(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  size_t shown = 0;
  int64_t Size() const override { return int64_t(shown); }
  int64_t ReadAt(int64_t offset, void* buffer, int64_t length) const override {
    if (offset < 0 || length < 0) return -1;
    if (offset >= int64_t(shown)) return 0;
    const size_t n = std::min(size_t(length), shown - size_t(offset));
    std::memcpy(buffer, bytes_.data() + offset, n);
    return int64_t(n);
  }

 private:
  std::span<const uint8_t> bytes_;
};

// Everything the reader gives from `offset` in reads of `chunk` bytes.
std::vector<uint8_t> ReadAll(mkv::MatroskaReader& reader, int64_t offset, int64_t chunk) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(size_t(chunk) + 16, 0xA5);
  for (int reads = 0; reads < 1 << 16; ++reads) {
    const int64_t got = reader.Read(offset + int64_t(out.size()), buffer.data(), chunk);
    if (got < 0 || got > chunk) std::abort();
    if (buffer[size_t(chunk)] != 0xA5) std::abort();
    if (got == 0) break;
    out.insert(out.end(), buffer.begin(), buffer.begin() + got);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  auto source = std::make_shared<Prefix>(bytes);
  source->shown = size;
  const Facts facts = WalkAll(*source);
  const int64_t dataStart = std::max<int64_t>(facts.file.header.dataOffset, kFileHeaderBytes) + 4;
  const mkv::Routes routes = mkv::FindRoutes(*source, dataStart, facts);
  if (const auto view = mkv::FileView::Make(source, facts, routes)) {
    mkv::MatroskaReader inOrder(view);
    const std::vector<uint8_t> whole = ReadAll(inOrder, 0, 4093);
    if (int64_t(whole.size()) > view->Size()) std::abort();
    // Back and forth: offsets picked from the input's own bytes.
    mkv::MatroskaReader jumping(view);
    for (size_t i = 0; i + 4 <= size && i < 64 * 4; i += 4) {
      const uint32_t pick =
          uint32_t(data[i]) << 24 | data[i + 1] << 16 | data[i + 2] << 8 | data[i + 3];
      if (whole.empty()) break;
      const int64_t at = int64_t(pick % whole.size());
      std::vector<uint8_t> got(size_t(1 + pick % 9000));
      const int64_t n = jumping.Read(at, got.data(), int64_t(got.size()));
      if (n < 0 || n > int64_t(got.size())) std::abort();
      if (std::memcmp(got.data(), whole.data() + at,
                      size_t(std::min<int64_t>(n, int64_t(whole.size()) - at))) != 0) {
        std::abort();
      }
    }
    // The same file growing under one reader: what it gives is what the
    // whole file's view gives, up to the Cues, which were placed for it.
    auto growing = std::make_shared<Prefix>(bytes);
    growing->shown = size / 2;
    const auto early = mkv::FileView::Make(growing, WalkAll(*growing), routes);
    if (early) {
      mkv::MatroskaReader reader(early);
      std::vector<uint8_t> seen = ReadAll(reader, 0, 7000);
      growing->shown = size;
      const std::vector<uint8_t> more = ReadAll(reader, int64_t(seen.size()), 7000);
      if (int64_t(seen.size() + more.size()) > early->Size()) std::abort();
    }
  }

  mkv::LiveMuxer live;
  std::vector<uint8_t> out(65536);
  for (size_t at = 0, step = 1; at < size; at += step, step = step * 2 + 1) {
    if (!live.Push(bytes.subspan(at, std::min(step, size - at)))) break;
    while (live.Pending() > 0) live.Pull(out.data(), out.size());
  }
  live.Finish();
  while (live.Pending() > 0) live.Pull(out.data(), out.size());
  return 0;
}
