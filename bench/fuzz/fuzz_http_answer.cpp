// libFuzzer entry for what the player reads from an http server before the
// engine sees a byte: an answer's head (cut anywhere), a chunked body (cut
// anywhere, into outputs of any size), Content-Range, redirect targets, and
// a tail fetched for the file's length against the file's start. Besides
// crashes, hangs and huge allocations, it stops on a head or a chunked body
// that reads differently for where it was cut.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "media/network_tail.h"
#include "net/chunked.h"
#include "net/response_head.h"
#include "net/url.h"

namespace {

std::string Dechunk(std::string_view in, size_t cut, size_t outSize, bool* failed) {
  net::ChunkedDecoder decoder;
  std::string out;
  std::vector<char> buffer(outSize);
  for (const std::string_view part : {in.substr(0, cut), in.substr(cut)}) {
    size_t at = 0;
    while (at < part.size() && !decoder.Done() && !decoder.Failed()) {
      size_t used = 0;
      const size_t n =
          decoder.Decode(part.data() + at, part.size() - at, buffer.data(), buffer.size(), &used);
      out.append(buffer.data(), n);
      at += used;
      if (n == 0 && used == 0) std::abort();  // no progress: a hang
    }
  }
  *failed = decoder.Failed();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const size_t cut = size ? data[0] % (size + 1) : 0;

  // A head found in one go is found the same when its bytes come in two.
  const size_t whole = net::HeadEnd(bytes);
  const size_t early = net::HeadEnd(bytes.substr(0, cut));
  const size_t later = net::HeadEnd(bytes, early == std::string_view::npos ? cut : 0);
  if (early != std::string_view::npos ? early != whole : later != whole) std::abort();
  if (whole != std::string_view::npos) {
    net::ResponseHead head;
    std::string error;
    net::ParseHead(bytes.substr(0, whole), &head, &error);
    int64_t first = 0, last = 0, total = 0;
    if (net::ParseContentRange(head.contentRange, &first, &last, &total) &&
        !(first <= last && last < total)) {
      std::abort();
    }
    const net::Url base = *net::ParseUrl("http://example.com/dir/a.flv");
    bool other = false;
    if (const auto next = net::ResolveLocation(base, head.location, &other)) {
      if (next->Text().find_first_of(" \r\n") != std::string::npos) std::abort();
    }
  }

  // A chunked body decodes the same however it was cut and read.
  bool failedOnce = false, failedCut = false;
  const std::string once = Dechunk(bytes, size, 65536, &failedOnce);
  const std::string cutUp = Dechunk(bytes, cut, 1 + (size ? data[size - 1] % 7 : 0), &failedCut);
  if (!failedOnce && !failedCut && once != cutUp) std::abort();

  // The input's first half as a file's start, its second as the tail.
  const size_t half = size / 2;
  network_tail::Tail tail;
  tail.bytes.assign(data + half, data + size);
  tail.first = int64_t(half);
  tail.total = int64_t(size);
  network_tail::EndIfItFits(std::string(bytes.substr(0, half)), int64_t(size), tail);
  return 0;
}
