#include "media/mkv/tag_map.h"

#include <algorithm>
#include <optional>

namespace mkv {
namespace {

using flv_reader::MediaPacket;

// Cluster: 4 bytes of ID, a 1-byte unknown size, the Timestamp's ID and size.
constexpr uint64_t kClusterFixedBytes = 4 + 1 + 1 + 1;
// SimpleBlock after its size: track number, relative time, flags.
constexpr uint64_t kBlockFixedBytes = 1 + 2 + 1;

// The parameter sets of an avcC or hvcC record as length-prefixed NAL units,
// the way frames carry them: a new configuration handed to the decoder in
// the stream. Nothing for a record that is cut short.
std::optional<Bytes> ParameterSets(const Track& track, std::span<const uint8_t> record) {
  const bool hevc = track.codecId == "V_MPEGH/ISO/HEVC";
  const Bytes& first = track.codecPrivate;
  const size_t lengthAt = hevc ? 21 : 4;
  if (first.size() <= lengthAt) return std::nullopt;
  const int lengthSize = (first[lengthAt] & 3) + 1;
  Bytes out;
  size_t at = 0;
  const auto take = [&]() -> bool {
    if (at + 2 > record.size()) return false;
    const size_t size = size_t(record[at]) << 8 | record[at + 1];
    at += 2;
    if (at + size > record.size()) return false;
    for (int i = lengthSize - 1; i >= 0; --i) out.push_back(uint8_t(size >> (8 * i)));
    out.insert(out.end(), record.begin() + long(at), record.begin() + long(at + size));
    at += size;
    return true;
  };
  if (hevc) {
    if (record.size() < 23) return std::nullopt;
    const int arrays = record[22];
    at = 23;
    for (int a = 0; a < arrays; ++a) {
      if (at + 3 > record.size()) return std::nullopt;
      const int count = record[at + 1] << 8 | record[at + 2];
      at += 3;
      for (int n = 0; n < count; ++n) {
        if (!take()) return std::nullopt;
      }
    }
  } else {
    if (record.size() < 6) return std::nullopt;
    const int sps = record[5] & 0x1f;
    at = 6;
    for (int n = 0; n < sps; ++n) {
      if (!take()) return std::nullopt;
    }
    if (at >= record.size()) return std::nullopt;
    const int pps = record[at++];
    for (int n = 0; n < pps; ++n) {
      if (!take()) return std::nullopt;
    }
  }
  if (out.empty()) return std::nullopt;
  return out;
}

void FillVoid(TagPiece& out, uint64_t total) {
  if (total == 0) return;
  const int header = PutVoidHeader(out.voidHead, total);
  out.zeros = total - uint64_t(header);
}

struct Layout {
  int timestampWidth = 0;  // 0: no Cluster starts here
  int sizeWidth = 0;
};

// The widths that make a Cluster start (if `cluster`) and a block of
// `blockData` bytes fill `budget` bytes exactly, with a Void of at least 2
// bytes or none for the rest.
std::optional<Layout> Fit(uint64_t budget, bool cluster, uint64_t clusterMs, uint64_t blockData) {
  const int firstT = cluster ? UintWidth(clusterMs) : 0;
  const int lastT = cluster ? 8 : 0;
  for (int t = firstT; t <= lastT; ++t) {
    for (int k = VintWidth(blockData); k <= 8; ++k) {
      const uint64_t used =
          (cluster ? kClusterFixedBytes + uint64_t(t) : 0) + 1 + uint64_t(k) + blockData;
      if (used > budget) break;
      const uint64_t rest = budget - used;
      if (rest == 0 || rest >= 2) return Layout{t, k};
    }
  }
  return std::nullopt;
}

}  // namespace

TagPiece VoidPiece(uint64_t total) {
  TagPiece piece;
  FillVoid(piece, total);
  return piece;
}

bool MapTag(const TagInput& input, const Routes& routes, ClusterState& state, TagPiece& out) {
  out = TagPiece{};
  const uint64_t total = TagUnitBytes(input.header);
  const bool media =
      (input.header.type == flv_reader::kAudioTag || input.header.type == flv_reader::kVideoTag) &&
      !input.header.encrypted();
  if (!media) {
    FillVoid(out, total);
    return true;
  }
  const bool whole = input.body.size() >= input.header.dataSize;
  const flv_reader::MediaTag tag = flv_reader::ParseMediaTag(input.header.type, input.body);
  if (!whole &&
      (tag.multitrack || (tag.count > 0 && tag.packets[0].kind == MediaPacket::Kind::kDamaged))) {
    return false;
  }

  const MediaPacket* played = nullptr;
  const Route* route = nullptr;
  bool other = false;
  for (size_t i = 0; i < tag.count && i < flv_reader::kMaxPacketsPerTag; ++i) {
    const MediaPacket& packet = tag.packets[i];
    const Route* mine = routes.For(packet);
    if (mine && !played) {
      played = &packet;
      route = mine;
    } else if (packet.kind == MediaPacket::Kind::kFrame) {
      other = true;
    }
  }
  if (!played) {
    FillVoid(out, total);
    out.fate = other ? TagPiece::Fate::kOtherTrack : TagPiece::Fate::kVoid;
    return true;
  }

  // A frame's payload runs to the end of the body, whatever part of it was
  // given; a multitrack packet's has its own size, given whole above.
  uint64_t payloadAt = played->payloadOffset;
  uint64_t payloadSize = played->payloadSize;
  if (!tag.multitrack && played->kind == MediaPacket::Kind::kFrame) {
    payloadSize = payloadAt <= input.header.dataSize ? input.header.dataSize - payloadAt : 0;
  }
  if (payloadAt + payloadSize > input.header.dataSize) {
    FillVoid(out, total);
    out.fate = TagPiece::Fate::kDropped;
    return true;
  }

  const int64_t dts = int64_t(input.header.timestamp);
  Bytes generated;  // a block's data made here instead of copied
  bool keyframe = played->keyframe || played->audio;
  int64_t pts = dts + played->compositionMs;
  if (played->kind == MediaPacket::Kind::kConfig) {
    // A new configuration in the middle of the stream reaches the decoder
    // as in-band parameter sets; the first one is the track's own.
    if (!whole) return false;
    const auto record = input.body.subspan(payloadAt, payloadSize);
    const Bytes& known = route->track.codecPrivate;
    std::optional<Bytes> sets;
    if (state.open && !std::equal(record.begin(), record.end(), known.begin(), known.end())) {
      sets = ParameterSets(route->track, record);
    }
    if (!sets) {
      FillVoid(out, total);
      return true;
    }
    generated = std::move(*sets);
    keyframe = false;
    pts = dts;
    payloadSize = 0;
  } else if (played->kind != MediaPacket::Kind::kFrame) {
    FillVoid(out, total);
    out.fate = played->kind == MediaPacket::Kind::kDamaged ? TagPiece::Fate::kDropped
                                                           : TagPiece::Fate::kVoid;
    return true;
  }

  const uint64_t blockData = kBlockFixedBytes + generated.size() + payloadSize;
  if (blockData > total) {
    FillVoid(out, total);
    out.fate = TagPiece::Fate::kDropped;
    return true;
  }
  const int64_t relative = pts - state.timestampMs;
  const bool mustStart = !state.open || relative < -32768 || relative > 32767;
  // Video keyframes start Clusters, and so do the tags the index names (an
  // audio-only file's index has one a second): the Cues point at them.
  const bool wantStart = mustStart || input.indexEntry || (!played->audio && keyframe);
  const int64_t clusterMs = std::max<int64_t>(pts, 0);
  std::optional<Layout> layout;
  if (wantStart) layout = Fit(total, true, uint64_t(clusterMs), blockData);
  if (!layout && !mustStart) layout = Fit(total, false, 0, blockData);
  if (!layout) {
    FillVoid(out, total);
    out.fate = TagPiece::Fate::kDropped;
    return true;
  }
  if (layout->timestampWidth > 0) {
    PutId(out.head, id::kCluster);
    out.head.push_back(0xFF);  // unknown size: it ends where the next Cluster starts
    PutUint(out.head, id::kTimestamp, uint64_t(clusterMs), layout->timestampWidth);
    state.open = true;
    state.timestampMs = clusterMs;
    out.clusterStarted = true;
    out.clusterMs = clusterMs;
  }
  PutId(out.head, id::kSimpleBlock);
  PutVint(out.head, blockData, layout->sizeWidth);
  PutVint(out.head, route->track.number, 1);
  const int16_t blockTime = int16_t(std::clamp<int64_t>(pts - state.timestampMs, -32768, 32767));
  out.head.push_back(uint8_t(uint16_t(blockTime) >> 8));
  out.head.push_back(uint8_t(uint16_t(blockTime)));
  out.head.push_back(keyframe ? 0x80 : 0x00);
  out.head.insert(out.head.end(), generated.begin(), generated.end());
  out.payloadAt = payloadAt;
  out.payloadSize = payloadSize;
  FillVoid(out, total - out.head.size() - payloadSize);
  out.fate = TagPiece::Fate::kPlayed;
  out.track = route->track.number;
  return true;
}

}  // namespace mkv
