// Wraps what an encoder wrote into MP4 as a modern FLV, in either way FLV
// carries HEVC today, for the benchmark's inputs (FFmpeg 5.1 writes
// neither): the tests' MP4 reader and FLV writer, whole files in memory.
//
//   make_modern_flv IN.mp4 OUT.flv codecid|enhanced

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/flv_writer.h"
#include "support/mp4_samples.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s IN.mp4 OUT.flv codecid|enhanced\n", argv[0]);
    return 2;
  }
  std::vector<flvwrite::Stream> streams;
  for (flvwrite::mp4::Track& track : flvwrite::mp4::ReadFile(argv[1])) {
    if (track.stream.audio) {
      streams.push_back(std::move(track.stream));
    } else {
      streams.insert(streams.begin(), std::move(track.stream));
    }
  }
  if (streams.empty()) {
    std::fprintf(stderr, "%s: no MP4 tracks read\n", argv[1]);
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
