// Times the FLV reader on a large file: the tail read, and full walks from a
// warm page cache with each way of reading. Without a path it writes a file
// of the size asked (tags put together directly, no encoding), walks it and
// deletes it. With --once it walks once, the way the player does, so that
// `/usr/bin/time` gives the CPU one walk of a damaged or sparse file costs.
//
//   bench_flv_walk [--size-mb N] [--video-kbps K] [--keep] [--once] [PATH]

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/flv/byte_source.h"
#include "media/flv/report.h"
#include "media/flv/tail.h"
#include "media/flv/walker.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

void PutU24(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  PutU24(out, v >> 8);
  out.push_back(static_cast<uint8_t>(v));
}

void PutTag(std::vector<uint8_t>& out, uint8_t type, uint32_t ms, const uint8_t* head,
            size_t headBytes, uint32_t size) {
  out.push_back(type);
  PutU24(out, size);
  PutU24(out, ms & 0xffffff);
  out.push_back(static_cast<uint8_t>(ms >> 24));
  PutU24(out, 0);
  out.insert(out.end(), head, head + headBytes);
  out.resize(out.size() + (size - headBytes), 0x5a);
  PutU32(out, size + 11);
}

// H.264 at 25 fps with a keyframe every 2 s and AAC every 1024 samples at
// 44.1 kHz: the tag mix of an ordinary recording.
bool Generate(const std::string& path, int64_t bytes, int videoKbps) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  static const uint8_t kHeader[] = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0};
  std::vector<uint8_t> out(kHeader, kHeader + sizeof kHeader);
  static const uint8_t kAvcConfig[] = {0x17, 0, 0, 0,    0,    1,    0x42, 0xc0, 0x1e, 0xff,
                                       0xe1, 0, 4, 0x67, 0x42, 0xc0, 0x1e, 1,    0,    0};
  static const uint8_t kAacConfig[] = {0xaf, 0, 0x12, 0x10};
  PutTag(out, 9, 0, kAvcConfig, sizeof kAvcConfig, sizeof kAvcConfig);
  PutTag(out, 8, 0, kAacConfig, sizeof kAacConfig, sizeof kAacConfig);
  const uint32_t frameBytes = static_cast<uint32_t>(videoKbps * 1000 / 8 / 25);
  int64_t written = 0;
  uint32_t seed = 12345;
  double audioMs = 0;
  for (uint32_t frame = 0; written + static_cast<int64_t>(out.size()) < bytes; ++frame) {
    const uint32_t ms = frame * 40;
    for (; audioMs <= ms; audioMs += 1024 * 1000.0 / 44100) {
      static const uint8_t kAac[] = {0xaf, 1};
      PutTag(out, 8, static_cast<uint32_t>(audioMs), kAac, 2, 300 + (seed >> 24));
      seed = seed * 1103515245 + 12345;
    }
    const bool key = frame % 50 == 0;
    const uint8_t head[] = {static_cast<uint8_t>(key ? 0x17 : 0x27), 1, 0, 0, 0};
    const uint32_t size = (key ? 4 : 1) * frameBytes / 2 + (seed >> 8) % (frameBytes + 1);
    seed = seed * 1103515245 + 12345;
    PutTag(out, 9, ms, head, sizeof head, std::max<uint32_t>(size, 8));
    if (out.size() > (4u << 20)) {
      if (std::fwrite(out.data(), 1, out.size(), file) != out.size()) return false;
      written += static_cast<int64_t>(out.size());
      out.clear();
    }
  }
  const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  return std::fclose(file) == 0 && ok;
}

long PeakRssMiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t sizeMb = 2048;
  int videoKbps = 2000;
  bool keep = false;
  bool once = false;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size-mb" && i + 1 < argc) {
      sizeMb = std::atoll(argv[++i]);
    } else if (arg == "--video-kbps" && i + 1 < argc) {
      videoKbps = std::max(16, std::atoi(argv[++i]));
    } else if (arg == "--keep") {
      keep = true;
    } else if (arg == "--once") {
      once = true;
    } else if (arg.rfind("--", 0) == 0) {
      std::fprintf(stderr, "usage: %s [--size-mb N] [--video-kbps K] [--keep] [--once] [PATH]\n",
                   argv[0]);
      return 2;
    } else {
      path = arg;
    }
  }
  const bool generated = path.empty() || access(path.c_str(), R_OK) != 0;
  if (path.empty()) path = "/tmp/bench_flv_walk.flv";
  if (generated) {
    const auto start = Clock::now();
    if (!Generate(path, sizeMb << 20, videoKbps)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("generated %s (%lld MiB, video %d kbit/s) in %.2f s\n", path.c_str(),
                static_cast<long long>(sizeMb), videoKbps, Seconds(start));
  }
  std::string error;
  auto source = flv_reader::FileSource::Open(path, &error);
  if (!source) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  std::printf("file: %lld bytes\n", static_cast<long long>(source->Size()));

  auto start = Clock::now();
  const flv_reader::TailInfo tail = flv_reader::ReadTail(*source);
  std::printf("tail read (64 KiB): %.3f ms, ends at %lld ms\n", Seconds(start) * 1000,
              static_cast<long long>(tail.endMs));

  struct Mode {
    const char* name;
    int64_t readAhead;
    int64_t sparseStride;
  };
  const flv_reader::WalkOptions defaults;
  const Mode modes[] = {
      {"automatic (the defaults)", defaults.readAheadBytes, defaults.sparseTagStride},
      {"buffered 256 KiB only", 256 << 10, INT64_MAX},
      {"buffered 64 KiB only", 64 << 10, INT64_MAX},
      {"header reads only (512 bytes per tag)", 512, 0},
  };
  flv_reader::Facts facts;
  // The first walk warms the page cache; the figures are from the second.
  for (int round = once ? 1 : 0; round < 2; ++round) {
    for (const Mode& mode : modes) {
      flv_reader::WalkOptions options;
      options.readAheadBytes = mode.readAhead;
      options.sparseTagStride = mode.sparseStride;
      start = Clock::now();
      flv_reader::Walker walker(*source, options);
      walker.Walk();
      const double walk = Seconds(start);
      facts = walker.Snapshot();
      if (round == 1) {
        std::printf("full walk, %s: %.3f s, %lld tags, %.1f M tags/s, %.2f GB/s\n", mode.name, walk,
                    static_cast<long long>(facts.file.tags), facts.file.tags / walk / 1e6,
                    static_cast<double>(facts.file.size) / walk / 1e9);
      }
      if (round == 0 || once) break;
    }
  }
  std::printf("peak RSS: %ld MiB\n\n%s", PeakRssMiB(), flv_reader::Report(facts).c_str());
  if (generated && !keep) std::remove(path.c_str());
  return 0;
}
