#include "media/mkv/header.h"

namespace mkv {
namespace {

constexpr int kPositionWidth = 8;

Bytes EbmlHeader() {
  Bytes body;
  PutUint(body, id::kEbmlVersion, 1);
  PutUint(body, id::kEbmlReadVersion, 1);
  PutUint(body, id::kEbmlMaxIdLength, 4);
  PutUint(body, id::kEbmlMaxSizeLength, 8);
  PutString(body, id::kDocType, "matroska");
  PutUint(body, id::kDocTypeVersion, 4);
  PutUint(body, id::kDocTypeReadVersion, 2);
  Bytes out;
  PutMaster(out, id::kEbml, body);
  return out;
}

void PutSeek(Bytes& out, uint32_t target, uint64_t position) {
  Bytes seek, targetId;
  PutId(targetId, target);
  PutBinary(seek, id::kSeekId, targetId);
  PutUint(seek, id::kSeekPosition, position, kPositionWidth);
  PutMaster(out, id::kSeek, seek);
}

Bytes TrackEntry(const Track& track) {
  Bytes entry;
  PutUint(entry, id::kTrackNumber, track.number);
  PutUint(entry, id::kTrackUid, track.number);
  PutUint(entry, id::kTrackType, track.video ? 1 : 2);
  PutUint(entry, id::kFlagLacing, 0);
  PutString(entry, id::kCodecId, track.codecId);
  if (!track.codecPrivate.empty()) PutBinary(entry, id::kCodecPrivate, track.codecPrivate);
  if (track.codecDelayNs) PutUint(entry, id::kCodecDelay, track.codecDelayNs);
  if (track.seekPreRollNs) PutUint(entry, id::kSeekPreRoll, track.seekPreRollNs);
  Bytes details;
  if (track.video) {
    if (track.width > 0 && track.height > 0) {
      PutUint(details, id::kPixelWidth, uint64_t(track.width));
      PutUint(details, id::kPixelHeight, uint64_t(track.height));
    }
    if (!details.empty()) PutMaster(entry, id::kVideo, details);
  } else {
    PutFloat(details, id::kSamplingFrequency, track.sampleRate > 0 ? track.sampleRate : 48000);
    PutUint(details, id::kChannels, uint64_t(track.channels > 0 ? track.channels : 2));
    if (track.bitDepth > 0) PutUint(details, id::kBitDepth, uint64_t(track.bitDepth));
    PutMaster(entry, id::kAudio, details);
  }
  Bytes out;
  PutMaster(out, id::kTrackEntry, entry);
  return out;
}

}  // namespace

uint64_t SegmentDataStart() { return EbmlHeader().size() + 4 + 8; }

Bytes WriteHeader(const HeaderPlan& plan) {
  Bytes info;
  PutUint(info, id::kTimestampScale, 1000000);
  if (plan.durationMs >= 0) PutFloat(info, id::kDuration, plan.durationMs);
  PutString(info, id::kMuxingApp, "Tibrok Flv Player");
  PutString(info, id::kWritingApp, "Tibrok Flv Player");
  Bytes infoElement;
  PutMaster(infoElement, id::kInfo, info);

  Bytes tracks;
  for (const Track& track : plan.tracks) {
    const Bytes entry = TrackEntry(track);
    tracks.insert(tracks.end(), entry.begin(), entry.end());
  }
  Bytes tracksElement;
  PutMaster(tracksElement, id::kTracks, tracks);

  // The SeekHead's size is the same whatever the positions: lay it out once
  // with zeros to learn where Info and Tracks land after it.
  const auto seekHead = [&](uint64_t infoAt, uint64_t tracksAt) {
    Bytes seeks;
    PutSeek(seeks, id::kInfo, infoAt);
    PutSeek(seeks, id::kTracks, tracksAt);
    if (plan.cues) PutSeek(seeks, id::kCues, plan.cuesPosition);
    Bytes out;
    PutMaster(out, id::kSeekHead, seeks);
    return out;
  };
  const uint64_t infoAt = seekHead(0, 0).size();
  const uint64_t tracksAt = infoAt + infoElement.size();

  Bytes out = EbmlHeader();
  PutId(out, id::kSegment);
  PutVint(out, kUnknownSize, 8);
  const Bytes head = seekHead(infoAt, tracksAt);
  out.insert(out.end(), head.begin(), head.end());
  out.insert(out.end(), infoElement.begin(), infoElement.end());
  out.insert(out.end(), tracksElement.begin(), tracksElement.end());
  return out;
}

void PutCuesHeader(Bytes& out, uint64_t count) {
  PutId(out, id::kCues);
  PutVint(out, count * kCuePointBytes, 8);
}

void PutCuePoint(Bytes& out, const CuePoint& point) {
  Bytes positions;
  PutUint(positions, id::kCueTrack, point.track, 1);
  PutUint(positions, id::kCueClusterPosition, point.clusterPosition, kPositionWidth);
  Bytes body;
  PutUint(body, id::kCueTime, point.timeMs, 8);
  PutMaster(body, id::kCueTrackPositions, positions);
  PutMaster(out, id::kCuePoint, body);
}

}  // namespace mkv
