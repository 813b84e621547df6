// Wraps what an encoder wrote into Matroska as a modern FLV, in either way
// FLV carries HEVC today, for the benchmark's inputs (FFmpeg 5.1 writes
// neither): the tests' FLV writer, whole files in memory.
//
//   make_modern_flv IN.mkv OUT.flv codecid|enhanced

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/encoded_streams.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s IN.mkv OUT.flv codecid|enhanced\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  const auto streams = encoded::FromMatroska(bytes);
  if (streams.empty()) {
    std::fprintf(stderr, "%s: no Matroska streams read\n", argv[1]);
    return 1;
  }
  flvwrite::Options options;
  options.dialect = std::string(argv[3]) == "codecid" ? flvwrite::Dialect::kCodecId
                                                      : flvwrite::Dialect::kEnhanced;
  const flvwrite::Bytes flv = flvwrite::Write(streams, options);
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(flv.data()), std::streamsize(flv.size()));
  return out ? 0 : 1;
}
