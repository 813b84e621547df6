// Writes a few small FLV files in today's dialects into the folder given, as
// seeds for the fuzzer: the corpus of real files holds one such file only.
// HEVC under codec id 12 and enhanced, AV1, VP9 and H.264 with Opus, FLAC,
// AAC and AC-3, multitrack in each layout, ModEx offsets, and the damage the
// reader must name.

#include <cstdio>
#include <string>
#include <vector>

#include "support/codec_records.h"

using namespace flvwrite;

namespace {

Stream Video(uint32_t fourCc, Bytes config, int frames, Bytes keyHeader = {}, uint8_t track = 0) {
  Stream s = MakeStream(false, fourCc, std::move(config), track);
  for (int i = 0; i < frames; ++i) {
    Bytes data = i % 10 == 0 ? keyHeader : Bytes{};
    data.resize(data.size() + 40, 0x11);
    s.packets.push_back(MakePacket(i * 40, i % 10 ? 80 : 0, i % 10 == 0, std::move(data)));
    if (i % 3 == 1) s.packets.back().offsetNs = 333333u * static_cast<uint32_t>(i % 3);
  }
  return s;
}

Stream Audio(uint32_t fourCc, Bytes config, int frames, Bytes frame, uint8_t track = 0) {
  Stream s = MakeStream(true, fourCc, std::move(config), track);
  for (int i = 0; i < frames; ++i) s.packets.push_back(MakePacket(i * 21, 0, true, frame));
  return s;
}

void Save(const std::string& dir, const std::string& name, const Bytes& bytes) {
  const std::string path = dir + "/" + name + ".flv";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  const Stream hevc = Video(FourCc("hvc1"), HevcRecord({}), 30);
  const Stream aac = Audio(FourCc("mp4a"), {0x11, 0x90}, 30, Bytes(20, 0x21));
  Options codecId;
  codecId.dialect = Dialect::kCodecId;
  Save(dir, "hevc12_aac", Write({hevc, aac}, codecId));
  Save(dir, "hvc1_aac", Write({hevc, aac}));
  const Stream av1 = Video(FourCc("av01"), Av1Record({640, 360, 0, 8, 10, true}), 30, {}, 1);
  const Stream opus = Audio(FourCc("Opus"), OpusHead(2), 30, Bytes(20, 0x31), 1);
  for (const Layout layout :
       {Layout::kOneTrack, Layout::kManyTracks, Layout::kManyTracksManyCodecs}) {
    Options o;
    o.multitrack = layout;
    o.firstTrackPlain = layout == Layout::kOneTrack;
    Save(dir, "multitrack" + std::to_string(static_cast<int>(layout)),
         Write({hevc, av1, Audio(FourCc("Opus"), OpusHead(1), 30, Bytes(20, 0x31)), opus}, o));
  }
  Save(dir, "vp9_flac",
       Write({Video(FourCc("vp09"), VpcRecord(0, 10, 8), 30, Vp9KeyFrame(320, 240)),
              Audio(FourCc("fLaC"), FlacRecord(48000, 2, 16), 20, Bytes(30, 0x41))}));
  Save(dir, "avc1_ac3",
       Write({Video(FourCc("avc1"), {}, 20),
              Audio(FourCc("ac-3"), {}, 20, Bytes{0x0b, 0x77, 0, 0, 0x0e, 0x40, 0xe1, 0x40})}));
  Options none;
  none.sequenceStart = false;
  Save(dir, "no_config", Write({hevc, aac}, none));
  Options cut;
  cut.configCut = 30;
  Save(dir, "config_cut", Write({hevc, aac}, cut));
  Save(dir, "unknown_fourcc", Write({Video(FourCc("vvc1"), Bytes(20, 1), 20)}));
  return 0;
}
