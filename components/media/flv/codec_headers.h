#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "media/flv/codec_formats.h"

// Picture sizes and sound formats read from the first bytes of a codec's
// data, for the codecs whose headers are simple enough to read without a
// decoder. Every reader takes the bytes after the FLV flags byte, checks
// every length against what it was given and answers nothing rather than a
// guess.
namespace flv_reader {

// A Sorenson H.263 picture header (start code, version, picture size code).
std::optional<PictureSize> H263PictureSize(std::span<const uint8_t> frame);
// A VP6 key frame, after FLV's byte of crop adjustments; with alpha, FLV puts
// a 3-byte offset of the alpha data before the frame.
std::optional<PictureSize> Vp6PictureSize(std::span<const uint8_t> body, bool withAlpha);
// Screen Video 1 and 2: block and image sizes in the first 4 bytes.
std::optional<PictureSize> ScreenVideoPictureSize(std::span<const uint8_t> frame);
// An H.264 sequence parameter set NAL unit, header byte included, with its
// emulation prevention bytes still in; frame cropping applied.
std::optional<PictureSize> H264SpsPictureSize(std::span<const uint8_t> nal);
// The same SPS: profile_idc, level_idc, luma bit depth, chroma format, size.
std::optional<VideoFormat> H264SpsFormat(std::span<const uint8_t> nal);
// An AVCDecoderConfigurationRecord (the body of an AVC sequence header tag
// after its packet type and composition time): the size from its first SPS.
std::optional<PictureSize> AvcConfigPictureSize(std::span<const uint8_t> record);
std::optional<VideoFormat> AvcConfigFormat(std::span<const uint8_t> record);

// An AAC AudioSpecificConfig (after the AAC packet type byte).
std::optional<SoundFormat> AacConfigFormat(std::span<const uint8_t> config);
// An MPEG audio frame header at the very start of `frame`.
std::optional<SoundFormat> MpegAudioFormat(std::span<const uint8_t> frame);

}  // namespace flv_reader
