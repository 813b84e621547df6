#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "media/flv/codec_headers.h"

// The configuration records of the video codecs FLV carries today, as a
// Matroska track's CodecPrivate holds them and as the reader describes a
// stream: HEVC's HEVCDecoderConfigurationRecord (hvcC), AV1's av1C with the
// sequence header among its OBUs, VP9's vpcC, and the key frame headers of
// VP9 and VP8, which alone carry their picture size. Every reader checks
// every length against the bytes given, reads only the first parameter sets
// it needs, and answers nothing rather than a guess.
namespace flv_reader {

struct HevcConfig {
  // Profile: general_profile_idc (1 Main, 2 Main 10, 3 Main Still Picture,
  // 4 range extensions); level: general_level_idc (30 times the level).
  // Size from the first SPS the record holds, when it holds one.
  VideoFormat format;
  bool highTier = false;
  int lengthSize = 0;  // bytes of each NAL unit's length in the frames: 1, 2 or 4
};
std::optional<HevcConfig> ParseHevcConfig(std::span<const uint8_t> record);
// An HEVC sequence parameter set NAL unit, its 2-byte header included, with
// its emulation prevention bytes still in: conformance window applied.
std::optional<VideoFormat> HevcSpsFormat(std::span<const uint8_t> nal);

// An AV1CodecConfigurationRecord: seq_profile (0 Main, 1 High, 2
// Professional), seq_level_idx_0, bit depth and chroma from its flags; the
// size from the sequence header OBU after it, when there is one.
struct Av1Config {
  VideoFormat format;
  bool highTier = false;
};
std::optional<Av1Config> ParseAv1Config(std::span<const uint8_t> record);
// The first sequence header among OBUs (a temporal unit, or the OBUs of a
// configuration record): profile and maximum picture size.
std::optional<VideoFormat> Av1SequenceHeaderFormat(std::span<const uint8_t> obus);

// A VPCodecConfigurationRecord as it follows the 'vpcC' box type, version 1:
// profile, level, bit depth, chroma; no picture size.
std::optional<VideoFormat> ParseVpConfig(std::span<const uint8_t> record);
// A VP9 frame's uncompressed header: a key frame's profile, bit depth,
// chroma and size; nothing for other frames.
std::optional<VideoFormat> Vp9FrameFormat(std::span<const uint8_t> frame);
// A VP8 key frame's size.
std::optional<PictureSize> Vp8FramePictureSize(std::span<const uint8_t> frame);

}  // namespace flv_reader
