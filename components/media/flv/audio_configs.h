#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "media/flv/codec_headers.h"

// The configuration records and frame headers of the sound codecs enhanced
// FLV carries besides AAC and MP3 (codec_headers.h): Opus's identification
// header, FLAC's STREAMINFO, the channel count of a MultichannelConfig
// packet, and AC-3 and E-AC-3 frame headers, which carry their format in
// every frame. Every reader checks every length against the bytes given and
// answers nothing rather than a guess.
namespace flv_reader {

// "OpusHead" as Ogg and enhanced FLV's SequenceStart carry it.
struct OpusConfig {
  int channels = 0;
  int inputSampleRate = 0;  // informative: the decoder's output is 48 kHz
  int preSkip = 0;          // samples at 48 kHz
  int mappingFamily = 0;
};
std::optional<OpusConfig> ParseOpusHead(std::span<const uint8_t> record);

// The "fLaC" signature and a STREAMINFO metadata block (the signature may
// be left out): sample rate, channels, bits per sample; samplesPerFrame is
// the block size when it is fixed.
struct FlacConfig {
  SoundFormat format;
  int bitsPerSample = 0;
};
std::optional<FlacConfig> ParseFlacConfig(std::span<const uint8_t> record);

// The channel count of an enhanced MultichannelConfig packet's payload.
std::optional<int> ChannelConfigChannels(std::span<const uint8_t> payload);

// An AC-3 or E-AC-3 sync frame's header at the very start of `frame`.
struct Ac3Format {
  SoundFormat format;
  bool enhanced = false;  // E-AC-3
};
std::optional<Ac3Format> Ac3FrameFormat(std::span<const uint8_t> frame);

}  // namespace flv_reader
