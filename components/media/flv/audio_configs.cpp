#include "media/flv/audio_configs.h"

#include <cstring>

#include "media/flv/bit_reader.h"

namespace flv_reader {
namespace {

uint32_t Le16(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

constexpr size_t kStreamInfoBytes = 34;

}  // namespace

std::optional<OpusConfig> ParseOpusHead(std::span<const uint8_t> record) {
  if (record.size() < 19 || std::memcmp(record.data(), "OpusHead", 8) != 0) return std::nullopt;
  if ((record[8] >> 4) != 0) return std::nullopt;  // an incompatible major version
  OpusConfig config;
  config.channels = record[9];
  config.preSkip = static_cast<int>(Le16(&record[10]));
  const uint32_t rate = Le32(&record[12]);
  config.mappingFamily = record[18];
  if (config.channels == 0 || rate > 768000) return std::nullopt;
  config.inputSampleRate = static_cast<int>(rate);
  // Family 0 is mono or stereo; the others list a stream count, a coupled
  // count and a mapping of every channel.
  if (config.mappingFamily == 0 ? config.channels > 2
                                : record.size() < 21 + size_t(config.channels)) {
    return std::nullopt;
  }
  return config;
}

std::optional<FlacConfig> ParseFlacConfig(std::span<const uint8_t> record) {
  if (record.size() >= 4 && std::memcmp(record.data(), "fLaC", 4) == 0) record = record.subspan(4);
  // The block header: STREAMINFO (type 0) of its fixed size.
  if (record.size() < 4 + kStreamInfoBytes || (record[0] & 0x7f) != 0) return std::nullopt;
  const uint32_t length = uint32_t{record[1]} << 16 | uint32_t{record[2]} << 8 | record[3];
  if (length != kStreamInfoBytes) return std::nullopt;
  bits::BitReader bits(record.subspan(4, kStreamInfoBytes));
  const uint32_t minBlock = bits.Bits(16), maxBlock = bits.Bits(16);
  bits.Skip(48);  // frame sizes
  FlacConfig config;
  config.format.sampleRate = static_cast<int>(bits.Bits(20));
  config.format.channels = static_cast<int>(bits.Bits(3)) + 1;
  config.bitsPerSample = static_cast<int>(bits.Bits(5)) + 1;
  if (config.format.sampleRate == 0 || minBlock < 16 || maxBlock < minBlock) return std::nullopt;
  config.format.samplesPerFrame = minBlock == maxBlock ? static_cast<int>(maxBlock) : 0;
  return config;
}

std::optional<int> ChannelConfigChannels(std::span<const uint8_t> payload) {
  // Channel order (0 unspecified, 1 native, 2 custom), then the count; a
  // custom order maps every channel, a native one gives a 32-bit mask.
  if (payload.size() < 2 || payload[0] > 2 || payload[1] == 0) return std::nullopt;
  const size_t needed = payload[0] == 2 ? 2 + size_t{payload[1]} : payload[0] == 1 ? 6 : 2;
  if (payload.size() < needed) return std::nullopt;
  return payload[1];
}

std::optional<Ac3Format> Ac3FrameFormat(std::span<const uint8_t> frame) {
  static constexpr int kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
  if (frame.size() < 8 || frame[0] != 0x0b || frame[1] != 0x77) return std::nullopt;
  const int bsid = frame[5] >> 3;
  Ac3Format out;
  if (bsid <= 10) {
    static constexpr int kRates[3] = {48000, 44100, 32000};
    const int fscod = frame[4] >> 6;
    if (fscod == 3 || (frame[4] & 0x3f) > 37) return std::nullopt;
    bits::BitReader bits(frame.subspan(6));
    const uint32_t acmod = bits.Bits(3);
    if ((acmod & 1) && acmod != 1) bits.Skip(2);  // centre mix level
    if (acmod & 4) bits.Skip(2);                  // surround mix level
    if (acmod == 2) bits.Skip(2);                 // Dolby Surround mode
    const uint32_t lfe = bits.Bits(1);
    // bsid 9 and 10 halve and quarter the rate.
    out.format = {kRates[fscod] >> (bsid > 8 ? bsid - 8 : 0),
                  kChannels[acmod] + static_cast<int>(lfe), 1536};
    return out;
  }
  if (bsid > 16) return std::nullopt;
  bits::BitReader bits(frame.subspan(2));
  bits.Skip(2 + 3 + 11);  // stream type, substream id, frame size
  const uint32_t fscod = bits.Bits(2);
  int rate = 0, blocks = 6;
  if (fscod == 3) {
    static constexpr int kHalfRates[3] = {24000, 22050, 16000};
    const uint32_t fscod2 = bits.Bits(2);
    if (fscod2 == 3) return std::nullopt;
    rate = kHalfRates[fscod2];
  } else {
    static constexpr int kRates[3] = {48000, 44100, 32000};
    static constexpr int kBlocks[4] = {1, 2, 3, 6};
    rate = kRates[fscod];
    blocks = kBlocks[bits.Bits(2)];
  }
  const uint32_t acmod = bits.Bits(3);
  const uint32_t lfe = bits.Bits(1);
  if (bits.overrun()) return std::nullopt;
  out.enhanced = true;
  out.format = {rate, kChannels[acmod] + static_cast<int>(lfe), blocks * 256};
  return out;
}

}  // namespace flv_reader
