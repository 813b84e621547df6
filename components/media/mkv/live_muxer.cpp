#include "media/mkv/live_muxer.h"

#include <algorithm>

#include "media/flv/flv_format.h"
#include "media/mkv/header.h"

namespace mkv {

bool LiveMuxer::Push(std::span<const uint8_t> bytes) {
  if (failed_) return false;
  in_.insert(in_.end(), bytes.begin(), bytes.end());
  if (!headerRead_) {
    if (in_.size() < size_t(flv_reader::kFileHeaderBytes)) return true;
    const auto header = flv_reader::ParseFileHeader(in_);
    if (!header) {
      error_ = "it is not an FLV stream";
      failed_ = true;
      return false;
    }
    headerRead_ = true;
    flags_ = header->flags;
    // The header, what its data offset adds, and the first PreviousTagSize.
    skipHeader_ = std::max<size_t>(header->dataOffset, flv_reader::kFileHeaderBytes) + 4;
  }
  const size_t drop = std::min(skipHeader_, in_.size());
  in_.erase(in_.begin(), in_.begin() + long(drop));
  skipHeader_ -= drop;
  return TakeTags();
}

bool LiveMuxer::TakeTags() {
  size_t at = 0;
  while (in_.size() - at >= size_t(flv_reader::kTagHeaderBytes)) {
    const flv_reader::TagHeader header = flv_reader::ParseTagHeader(in_.data() + at);
    if (!flv_reader::PlausibleTag(header)) {
      // A live stream that loses its way is not found again by guessing.
      error_ = "its tags stop making sense";
      failed_ = true;
      in_.clear();
      return false;
    }
    const size_t unit = size_t(TagUnitBytes(header));
    if (in_.size() - at < unit) break;
    const std::span<const uint8_t> tag(in_.data() + at, unit);
    if (started_) {
      Emit(tag);
    } else {
      Hold(tag);
    }
    at += unit;
    if (failed_) return false;
  }
  in_.erase(in_.begin(), in_.begin() + long(at));
  return true;
}

void LiveMuxer::Hold(std::span<const uint8_t> tag) {
  held_.insert(held_.end(), tag.begin(), tag.end());
  ++heldTags_;
  const flv_reader::TagHeader header = flv_reader::ParseTagHeader(tag.data());
  if (header.type == flv_reader::kAudioTag || header.type == flv_reader::kVideoTag) {
    const flv_reader::MediaTag media = flv_reader::ParseMediaTag(
        header.type, tag.subspan(flv_reader::kTagHeaderBytes, header.dataSize));
    for (size_t i = 0; i < media.count && i < flv_reader::kMaxPacketsPerTag; ++i) {
      const flv_reader::MediaPacket& packet = media.packets[i];
      const int kind = packet.audio ? 1 : 0;
      if (packet.kind == flv_reader::MediaPacket::Kind::kConfig) settled_[kind] = true;
      if (packet.kind == flv_reader::MediaPacket::Kind::kFrame) {
        seen_[kind] = true;
        const StreamKey key{packet.audio, packet.fourCc, packet.legacyCodec, packet.trackId};
        if (!NeedsConfig(key)) settled_[kind] = true;
      }
    }
  }
  const bool videoDone = settled_[0] || (!(flags_ & 0x01) && !seen_[0]);
  const bool audioDone = settled_[1] || (!(flags_ & 0x04) && !seen_[1]);
  if ((videoDone && audioDone) || heldTags_ >= kMaxHeldTags || held_.size() >= kMaxHeldBytes) {
    StartOutput();
  }
}

void LiveMuxer::Finish() {
  if (!started_ && !failed_ && heldTags_ > 0) StartOutput();
}

bool LiveMuxer::StartOutput() {
  flv_reader::Facts facts;
  facts.file.header.flags = flags_;
  const flv_reader::MemorySource source{std::span<const uint8_t>(held_)};
  routes_ = FindRoutes(source, 0, facts, int(kMaxHeldTags) + 1, int64_t(held_.size()) + 1);
  if (!routes_.video.playable && !routes_.audio.playable) {
    error_ = "it has no picture or sound that can be played";
    failed_ = true;
    held_.clear();
    return false;
  }
  HeaderPlan plan;
  if (routes_.video.playable) plan.tracks.push_back(routes_.video.track);
  if (routes_.audio.playable) plan.tracks.push_back(routes_.audio.track);
  const Bytes header = WriteHeader(plan);
  out_.insert(out_.end(), header.begin(), header.end());
  started_ = true;
  std::vector<uint8_t> held;
  held.swap(held_);
  for (size_t at = 0; at + flv_reader::kTagHeaderBytes <= held.size();) {
    const size_t unit = size_t(TagUnitBytes(flv_reader::ParseTagHeader(held.data() + at)));
    Emit(std::span<const uint8_t>(held).subspan(at, unit));
    at += unit;
  }
  return true;
}

void LiveMuxer::Emit(std::span<const uint8_t> tag) {
  TagInput input;
  input.header = flv_reader::ParseTagHeader(tag.data());
  input.body = tag.subspan(flv_reader::kTagHeaderBytes, input.header.dataSize);
  TagPiece piece;
  if (!MapTag(input, routes_, state_, piece) || piece.fate != TagPiece::Fate::kPlayed) return;
  // In order, nothing needs the tag's own size: the Void is left out.
  out_.insert(out_.end(), piece.head.begin(), piece.head.end());
  const auto payload = input.body.subspan(size_t(piece.payloadAt), size_t(piece.payloadSize));
  out_.insert(out_.end(), payload.begin(), payload.end());
}

size_t LiveMuxer::Pull(uint8_t* buffer, size_t length) {
  const size_t n = std::min(length, out_.size());
  std::copy_n(out_.begin(), n, buffer);
  out_.erase(out_.begin(), out_.begin() + long(n));
  return n;
}

}  // namespace mkv
