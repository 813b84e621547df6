#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// The few EBML pieces the player writes: element IDs, size and number
// variable-length integers of a chosen width, and Void elements of an exact
// total size. Widths are chosen by the caller wherever the layout needs an
// element to take a fixed number of bytes whatever its value.
namespace mkv {

using Bytes = std::vector<uint8_t>;

// Element IDs, with their marker bits, as they are written.
namespace id {
inline constexpr uint32_t kEbml = 0x1A45DFA3;
inline constexpr uint32_t kEbmlVersion = 0x4286;
inline constexpr uint32_t kEbmlReadVersion = 0x42F7;
inline constexpr uint32_t kEbmlMaxIdLength = 0x42F2;
inline constexpr uint32_t kEbmlMaxSizeLength = 0x42F3;
inline constexpr uint32_t kDocType = 0x4282;
inline constexpr uint32_t kDocTypeVersion = 0x4287;
inline constexpr uint32_t kDocTypeReadVersion = 0x4285;
inline constexpr uint32_t kSegment = 0x18538067;
inline constexpr uint32_t kSeekHead = 0x114D9B74;
inline constexpr uint32_t kSeek = 0x4DBB;
inline constexpr uint32_t kSeekId = 0x53AB;
inline constexpr uint32_t kSeekPosition = 0x53AC;
inline constexpr uint32_t kInfo = 0x1549A966;
inline constexpr uint32_t kTimestampScale = 0x2AD7B1;
inline constexpr uint32_t kDuration = 0x4489;
inline constexpr uint32_t kMuxingApp = 0x4D80;
inline constexpr uint32_t kWritingApp = 0x5741;
inline constexpr uint32_t kTracks = 0x1654AE6B;
inline constexpr uint32_t kTrackEntry = 0xAE;
inline constexpr uint32_t kTrackNumber = 0xD7;
inline constexpr uint32_t kTrackUid = 0x73C5;
inline constexpr uint32_t kTrackType = 0x83;
inline constexpr uint32_t kFlagLacing = 0x9C;
inline constexpr uint32_t kCodecId = 0x86;
inline constexpr uint32_t kCodecPrivate = 0x63A2;
inline constexpr uint32_t kCodecDelay = 0x56AA;
inline constexpr uint32_t kSeekPreRoll = 0x56BB;
inline constexpr uint32_t kVideo = 0xE0;
inline constexpr uint32_t kPixelWidth = 0xB0;
inline constexpr uint32_t kPixelHeight = 0xBA;
inline constexpr uint32_t kAudio = 0xE1;
inline constexpr uint32_t kSamplingFrequency = 0xB5;
inline constexpr uint32_t kChannels = 0x9F;
inline constexpr uint32_t kBitDepth = 0x6264;
inline constexpr uint32_t kCluster = 0x1F43B675;
inline constexpr uint32_t kTimestamp = 0xE7;
inline constexpr uint32_t kSimpleBlock = 0xA3;
inline constexpr uint32_t kCues = 0x1C53BB6B;
inline constexpr uint32_t kCuePoint = 0xBB;
inline constexpr uint32_t kCueTime = 0xB3;
inline constexpr uint32_t kCueTrackPositions = 0xB7;
inline constexpr uint32_t kCueTrack = 0xF7;
inline constexpr uint32_t kCueClusterPosition = 0xF1;
inline constexpr uint32_t kVoid = 0xEC;
}  // namespace id

// The size field of a master element whose end is not known when it is
// written (a live Segment, a Cluster): all value bits set, 8 bytes wide.
inline constexpr uint64_t kUnknownSize = (uint64_t{1} << 56) - 1;

// The narrowest width (1 to 8) whose variable-length integer holds `value`
// (all value bits set is reserved for "unknown" and is never a size).
int VintWidth(uint64_t value);
// `value` as a variable-length integer `width` bytes wide; the caller makes
// sure it fits (VintWidth(value) <= width). kUnknownSize may take any width.
void PutVint(Bytes& out, uint64_t value, int width);
void PutId(Bytes& out, uint32_t elementId);
// Bytes an unsigned value takes as an element's data, at least 1.
int UintWidth(uint64_t value);
// Elements: ID, size, data. An unsigned integer of `width` bytes (0: the
// narrowest).
void PutUint(Bytes& out, uint32_t elementId, uint64_t value, int width = 0);
void PutFloat(Bytes& out, uint32_t elementId, double value);
void PutString(Bytes& out, uint32_t elementId, std::string_view text);
void PutBinary(Bytes& out, uint32_t elementId, std::span<const uint8_t> data);
void PutMaster(Bytes& out, uint32_t elementId, const Bytes& body);
// The ID and size of a Void element of exactly `total` bytes, its data (that
// many zeros, total minus what this wrote) left to the caller: how many bytes
// were written, -1 (and nothing written) for a total of 1, which no element
// can have.
int PutVoidHeader(Bytes& out, uint64_t total);
// A whole Void element of exactly `total` bytes, for small totals; false for
// a total of 1. A total of 0 writes nothing.
bool PutVoid(Bytes& out, uint64_t total);

}  // namespace mkv
