#pragma once

// Short clips that Debian's ffmpeg encodes with the codecs FLV carries
// today (libx265, libaom-av1, libvpx-vp9, libx264; libopus, flac, aac, ac3,
// eac3, libmp3lame), read back as the FLV writer's streams. ffmpeg writes
// MP4, which keeps the configuration records and the decoding and
// presentation times (mp4_samples.h); the test picks the dialect and the
// layout. Standard C++ and POSIX; for the integration tier, which may run
// ffmpeg.

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/flv_writer.h"
#include "support/mp4_samples.h"

namespace flvwrite {

struct Clip {
  std::string name;   // the file's stem in the folder given
  std::string video;  // ffmpeg's video encoder arguments; empty: no video
  std::string audio;  // the same for audio
  std::string size = "320x240";
  int rate = 25;
  int seconds = 2;
};

// Clips with every codec the reader knows, a key frame a second, small and
// quick to encode (the fastest presets).
inline std::vector<Clip> StandardClips() {
  const std::string x265 =
      "-c:v libx265 -preset ultrafast -tag:v hvc1 "
      "-x265-params log-level=error:keyint=25:min-keyint=25:bframes=2";
  return {
      {"hevc_aac", x265, "-c:a aac -b:a 96k", "324x180"},
      {"hevc10_opus", x265 + " -pix_fmt yuv420p10le -profile:v main10", "-c:a libopus -b:a 64k"},
      {"av1_opus", "-c:v libaom-av1 -usage realtime -cpu-used 8 -g 25", "-c:a libopus -ac 1"},
      {"vp9_flac", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -g 25", "-c:a flac"},
      {"vp9_eac3", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -g 25", "-c:a eac3"},
      {"avc_mp3", "-c:v libx264 -preset ultrafast -g 25 -bf 2", "-c:a libmp3lame -ar 44100"},
      {"avc_ac3", "-c:v libx264 -preset ultrafast -g 25", "-c:a ac3"},
  };
}

// Encodes `clip` into `dir` (a file already there is reused) and reads its
// streams back, video first; empty when ffmpeg fails, say for want of an
// encoder.
inline std::vector<Stream> Encode(const std::string& dir, const Clip& clip) {
  const std::string path = dir + "/" + clip.name + ".mp4";
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=" + clip.size +
                          ":rate=" + std::to_string(clip.rate) +
                          ":duration=" + std::to_string(clip.seconds) + "'";
    command += " -f lavfi -i 'sine=frequency=440:sample_rate=48000:duration=" +
               std::to_string(clip.seconds) + "'";
    command += clip.video.empty() ? " -vn" : " -map 0:v " + clip.video;
    command += clip.audio.empty() ? " -an" : " -map 1:a " + clip.audio;
    command += " -strict -2 '" + path + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return {};
  }
  std::vector<Stream> streams;
  for (mp4::Track& t : mp4::ReadFile(path)) {
    if (t.stream.audio) {
      streams.push_back(std::move(t.stream));
    } else {
      streams.insert(streams.begin(), std::move(t.stream));
    }
  }
  return streams;
}

}  // namespace flvwrite
