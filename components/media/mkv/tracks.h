#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "media/flv/byte_source.h"
#include "media/flv/facts.h"
#include "media/flv/media_tag.h"
#include "media/mkv/header.h"

// Which of an FLV's streams the Matroska view plays, and how each is
// described to a Matroska reader. One video and one audio stream at most:
// the first of each kind the file carries (in a multitrack file, the track
// its first packet of that kind names); packets of any other track or codec
// are left out.
namespace mkv {

inline constexpr uint8_t kVideoTrack = 1;
inline constexpr uint8_t kAudioTrack = 2;

// What identifies the packets of one stream.
struct StreamKey {
  bool audio = false;
  uint32_t fourCc = 0;
  int legacyCodec = -1;
  uint8_t trackId = 0;
  bool Matches(const flv_reader::MediaPacket& packet) const {
    return packet.audio == audio && packet.fourCc == fourCc && packet.legacyCodec == legacyCodec &&
           packet.trackId == trackId;
  }
};

struct Route {
  bool present = false;   // the file has such a stream
  bool playable = false;  // and it has a Matroska codec id (and, where needed, its configuration)
  StreamKey key;
  Track track;
  // Why a stream that is present is not played, in words, naming it
  // ("HEVC (hvc1): its configuration record is missing"); empty when it
  // plays.
  std::string why;
};

struct Routes {
  Route video;
  Route audio;
  // The file carries codec id 12 or an enhanced tag: FFmpeg's own FLV
  // reader cannot play it.
  bool modern = false;
  const Route* For(const flv_reader::MediaPacket& packet) const {
    const Route& route = packet.audio ? audio : video;
    return route.playable && route.key.Matches(packet) ? &route : nullptr;
  }
};

// What a stream is, in words: "HEVC (hvc1)", "HEVC (codec id 12)", "a
// stream of FourCC vvc1", "FLV sound format 11".
std::string StreamName(const StreamKey& key);

// The Matroska codec id of a stream, empty when it has none this player
// knows.
std::string CodecIdFor(const StreamKey& key);
// Whether a stream of this codec cannot be played without its configuration
// record.
bool NeedsConfig(const StreamKey& key);
// Fills the track's codec private data and what it tells (sample rate and
// channels of AAC, Opus and FLAC) from a configuration record; false, with
// the track unchanged, for a record too short to be one.
bool ApplyConfig(Track& track, const StreamKey& key, std::span<const uint8_t> config);

// Reads the tags from the file's first one (at `dataStart`) on, for at most
// `maxTags` tags or `maxBytes` bytes, until each stream's configuration is
// found. `facts` give what the tags do not (picture size, sampling rate).
Routes FindRoutes(const flv_reader::ByteSource& source, int64_t dataStart,
                  const flv_reader::Facts& facts, int maxTags = 400,
                  int64_t maxBytes = int64_t{32} << 20);

}  // namespace mkv
