#include "media/flv/codec_names.h"

#include <cctype>
#include <cstdio>

#include "media/flv/flv_format.h"
#include "media/flv/media_tag.h"

namespace flv_reader {
namespace {

struct FourCcName {
  uint32_t fourCc;
  bool video;
  const char* name;
  const char* family;  // nullptr: a codec this reader cannot describe
};

constexpr FourCcName kFourCcNames[] = {
    {kFourCcAvc, true, "H.264", "avc"},
    {kFourCcHevc, true, "HEVC", "hevc"},
    {kFourCcAv1, true, "AV1", "av1"},
    {kFourCcVp9, true, "VP9", "vp9"},
    {kFourCcVp8, true, "VP8", "vp8"},
    // Written by writers ahead of the published layouts; no frame of them
    // is laid out here, but they are named.
    {FourCc("vvc1"), true, "VVC", nullptr},
    {FourCc("vvi1"), true, "VVC", nullptr},
    {FourCc("hev1"), true, "HEVC", nullptr},
    {FourCc("avc3"), true, "H.264", nullptr},
    {kFourCcOpus, false, "Opus", "opus"},
    {kFourCcFlac, false, "FLAC", "flac"},
    {kFourCcAc3, false, "AC-3", "ac3"},
    {kFourCcEac3, false, "E-AC-3", "eac3"},
    {kFourCcMp3, false, "MP3", "mp3"},
    {kFourCcAac, false, "AAC", "aac"},
};

const FourCcName* Find(uint32_t fourCc, bool video) {
  for (const FourCcName& n : kFourCcNames) {
    if (n.fourCc == fourCc && n.video == video) return &n;
  }
  return nullptr;
}

// Letters and digits only, lower case: "fLaC" and "FLAC", ".mp3" and "MP3".
std::string Folded(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

std::string EnhancedName(uint32_t fourCc, bool video) {
  const std::string text = FourCcText(fourCc);
  const FourCcName* known = Find(fourCc, video);
  if (!known) return "unknown codec (enhanced FLV, FourCC \"" + text + "\")";
  // The FourCC is left out where it only spells the name again.
  if (Folded(known->name) == Folded(text)) return std::string(known->name) + " (enhanced FLV)";
  return std::string(known->name) + " (enhanced FLV, " + text + ")";
}

}  // namespace

std::string FourCcText(uint32_t fourCc) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<unsigned char>(fourCc >> shift);
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

std::string CodecListName(const CodecTag& codec, bool video) {
  if (codec.fourCc != 0) return EnhancedName(codec.fourCc, video);
  if (video && codec.legacy == kVideoHevc) return "HEVC (codec id 12, a CDN extension)";
  const std::string name(video ? VideoCodecName(codec.legacy) : AudioCodecName(codec.legacy));
  return name == "unknown" ? "unknown codec " + std::to_string(codec.legacy) : name;
}

std::string CodecNoticeName(const CodecTag& codec, bool video) {
  if (codec.fourCc != 0) return EnhancedName(codec.fourCc, video);
  if (video && codec.legacy == kVideoHevc) return "HEVC (FLV codec 12, a CDN extension)";
  const std::string name(video ? VideoCodecName(codec.legacy) : AudioCodecName(codec.legacy));
  return name + (video ? " (FLV codec " : " (FLV sound format ") + std::to_string(codec.legacy) +
         ")";
}

std::string CodecFamily(const CodecTag& codec, bool video) {
  if (codec.fourCc != 0) {
    const FourCcName* known = Find(codec.fourCc, video);
    return known && known->family ? known->family : "";
  }
  if (video) {
    if (codec.legacy == kVideoH264) return "avc";
    if (codec.legacy == kVideoHevc) return "hevc";
    return KnownVideoCodec(codec.legacy) ? "flv" + std::to_string(codec.legacy) : "";
  }
  if (codec.legacy == kAudioAac) return "aac";
  if (codec.legacy == kAudioMp3) return "mp3";
  return KnownAudioCodec(codec.legacy) ? "flv" + std::to_string(codec.legacy) : "";
}

std::string ProfileName(const CodecTag& codec, bool video, int profile) {
  if (!video || profile < 0) return "";
  const std::string family = CodecFamily(codec, video);
  if (family == "hevc") {
    switch (profile) {
      case 1:
        return "Main";
      case 2:
        return "Main 10";
      case 3:
        return "Main Still Picture";
      case 4:
        return "Range Extensions";
      case 9:
        return "Screen Content";
      default:
        return "profile " + std::to_string(profile);
    }
  }
  if (family == "av1") {
    static const char* kNames[] = {"Main", "High", "Professional"};
    return profile <= 2 ? kNames[profile] : "";
  }
  if (family == "vp9" || family == "vp8") return "Profile " + std::to_string(profile);
  if (family == "avc") {
    switch (profile) {
      case 66:
        return "Baseline";
      case 77:
        return "Main";
      case 88:
        return "Extended";
      case 100:
        return "High";
      case 110:
        return "High 10";
      case 122:
        return "High 4:2:2";
      case 244:
        return "High 4:4:4";
      default:
        return "profile " + std::to_string(profile);
    }
  }
  return "";
}

}  // namespace flv_reader
