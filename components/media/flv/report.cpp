#include "media/flv/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "media/flv/codec_names.h"
#include "media/flv/media_tag.h"
#include "media/flv/text_format.h"

namespace flv_reader {
namespace {

constexpr size_t kProblemsPerKindShown = 3;
constexpr size_t kListedItems = 5;

// Valid UTF-8 with no control characters, at most `bytes` long.
std::string Clean(const std::string& text, size_t bytes = 80) {
  std::string out;
  size_t i = 0;
  while (i < text.size() && out.size() < bytes) {
    const auto c = static_cast<uint8_t>(text[i]);
    int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool valid = length > 0 && i + length <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      valid = (static_cast<uint8_t>(text[i + k]) & 0xc0) == 0x80;
    }
    if (valid && length == 2 && c < 0xc2) valid = false;  // overlong
    if (!valid) {
      out += "\xef\xbf\xbd";
      ++i;
      continue;
    }
    if (length == 1) {
      out += (c < 0x20 || c == 0x7f) ? ' ' : static_cast<char>(c);
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  if (i < text.size()) out += "...";
  return out;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Exact, without trailing zeros: "44.1 kHz", "22.05 kHz", "11.025 kHz".
std::string Rate(int hertz) {
  std::string text = Fixed(hertz / 1000.0, 3);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text + " kHz";
}

std::string Channels(int n) {
  return n == 1 ? "mono" : n == 2 ? "stereo" : std::to_string(n) + " channels";
}

std::string CodecList(const StreamFacts& s, bool video) {
  std::string text = CodecListName(s.codec, video);
  for (size_t i = 1; i < s.codecs.size(); ++i)
    text += ", then " + CodecListName(s.codecs[i], video);
  return text;
}

std::string Location(const Problem& p) {
  std::string at;
  if (p.timeMs >= 0) at += " at " + FormatClock(p.timeMs);
  if (p.offset >= 0) at += " (offset " + std::to_string(p.offset) + ")";
  return at;
}

std::string Chroma(int format) {
  return format == 0 ? "monochrome" : format == 2 ? "4:2:2" : format == 3 ? "4:4:4" : "";
}

// A video stream or track: codec, profile, bit depth, size, rate, frames.
std::string VideoDescription(const StreamFacts& v) {
  std::string out = v.codec.present() ? CodecList(v, true) : std::string("no frames");
  const std::string profile = ProfileName(v.codec, true, v.profile);
  if (!profile.empty()) out += ", " + profile;
  if (v.bitDepth > 0) out += ", " + std::to_string(v.bitDepth) + "-bit";
  if (!Chroma(v.chromaFormat).empty()) out += " " + Chroma(v.chromaFormat);
  if (v.width > 0) {
    out += ", " + std::to_string(v.width) + "x" + std::to_string(v.height);
    if (v.sizeFrom == SizeFrom::kMetadata) out += " (from onMetaData)";
  }
  if (v.frameRate > 0) out += ", " + Fixed(v.frameRate, 2) + " fps";
  if (v.kbitPerSecond >= 0.5) out += ", " + Fixed(v.kbitPerSecond, 0) + " kbit/s";
  out += ", " + std::to_string(v.frames) + (v.frames == 1 ? " frame" : " frames");
  if (v.keyframes > 0) out += " (" + std::to_string(v.keyframes) + " key)";
  return out;
}

std::string AudioDescription(const StreamFacts& a) {
  std::string out = a.codec.present() ? CodecList(a, false) : std::string("no frames");
  if (a.sampleRate > 0) out += ", " + Rate(a.sampleRate);
  // Sample size means something for PCM, ADPCM and FLAC only.
  const bool pcm = a.codecId == kAudioPcmPlatform || a.codecId == kAudioPcmLittle ||
                   a.codecId == kAudioAdpcm || a.codec.fourCc == kFourCcFlac;
  if (a.sampleBits > 0 && pcm) out += ", " + std::to_string(a.sampleBits) + "-bit";
  if (a.channels > 0) out += ", " + Channels(a.channels);
  if (a.kbitPerSecond >= 0.5) out += ", " + Fixed(a.kbitPerSecond, 0) + " kbit/s";
  return out;
}

// One line for a stream of one track; a line and one a track for a
// multitrack one.
void StreamLines(const Facts& f, bool video, std::string& out) {
  const StreamFacts& s = video ? f.streams.video : f.streams.audio;
  if (!s.present()) return;
  const std::vector<StreamFacts>& tracks = video ? f.streams.videoTracks : f.streams.audioTracks;
  auto describe = [&](const StreamFacts& t) {
    return video ? VideoDescription(t) : AudioDescription(t);
  };
  const std::string label = video ? "Video" : "Audio";
  if (tracks.empty()) {
    out += label + ": " + describe(s) + "\n";
    return;
  }
  out += label + ": " + std::to_string(tracks.size()) + " tracks";
  if (f.streams.tracksLeftOut > 0) out += " listed, more left out";
  out += "\n";
  for (const StreamFacts& t : tracks) {
    out += "  track " + std::to_string(t.trackId) + ": " + describe(t) + "\n";
  }
}

void LengthLines(const Facts& f, std::string& out) {
  const LengthChoice choice = ChooseLength(f);
  const std::optional<double>& claim = f.scripts.metadata.duration;
  std::string claimText;
  if (claim) {
    claimText = AbsurdDuration(*claim) ? FormatClaim(*claim) + " s"
                                       : FormatLength(ClampedRound(*claim * 1000));
  }
  switch (choice.source) {
    case LengthSource::kNone:
      out += "Length: unknown";
      if (claim) out += " (onMetaData claims " + claimText + ")";
      break;
    case LengthSource::kMeasured:
      out += "Length: " + FormatLength(choice.ms) +
             (f.file.coverage == Coverage::kComplete ? " measured" : " estimated");
      if (claim) {
        out += (DurationAgrees(f, *claim) ? " (onMetaData says " : " (onMetaData claims ") +
               claimText + ")";
      }
      break;
    case LengthSource::kClaimed:
      out += "Length: " + FormatLength(choice.ms) + " (onMetaData";
      out += f.streams.audio.frames + f.streams.video.frames > 0
                 ? "; " + FormatLength(f.clock.durationMs) + " measured)"
                 : ")";
      break;
  }
  out += "\n";
  if (f.clock.firstMs >= 100) out += "Starts at: " + FormatClock(f.clock.firstMs) + "\n";
  const bool gaps = f.streams.audio.leaps + f.streams.audio.backwards + f.streams.video.leaps +
                        f.streams.video.backwards + f.damage.secondHeaders >
                    0;
  if (gaps && std::llabs(f.clock.durationMs - f.clock.contentMs) > 1000 && f.clock.contentMs > 0) {
    out +=
        "Content: " + FormatLength(f.clock.contentMs) + " of frames, leaps and restarts left out\n";
  }
}

void ScriptLines(const Facts& f, std::string& out) {
  const Metadata& m = f.scripts.metadata;
  if (m.tags == 0) {
    out += "Metadata: none\n";
  } else {
    out += "Metadata: onMetaData";
    if (m.tags > 1) out += " x" + std::to_string(m.tags);
    if (m.keyframePositionCount >= 0) {
      out += ", keyframes index of " + Counted(m.keyframePositionCount, "entry", "entries");
    }
    for (size_t i = 0; i < m.strings.size() && i < kListedItems; ++i) {
      out += ", " + Clean(m.strings[i].first, 32) + " \"" + Clean(m.strings[i].second) + "\"";
    }
    out += "\n";
  }
  if (f.scripts.cuePointCount > 0) {
    out += "Cue points: " + std::to_string(f.scripts.cuePointCount);
    if (f.scripts.cuePointCount > std::ssize(f.scripts.cuePoints)) {
      out += " (the first " + std::to_string(f.scripts.cuePoints.size()) + " kept)";
    }
    for (size_t i = 0; i < f.scripts.cuePoints.size() && i < kListedItems; ++i) {
      const CuePoint& c = f.scripts.cuePoints[i];
      out += (i == 0 ? ": \"" : ", \"") + Clean(c.name, 40) + "\"";
      const int64_t ms = c.timeSec >= 0 ? ClampedRound(std::min(c.timeSec, 1e12) * 1000) : c.tagMs;
      if (ms >= 0) out += " at " + FormatClock(ms);
    }
    out += "\n";
  }
  if (f.scripts.captionCount > 0) {
    out += "Captions: " + std::to_string(f.scripts.captionCount);
    if (!f.scripts.captions.empty()) {
      out += ", the first at " + FormatClock(f.scripts.captions[0].timeMs) + ": \"" +
             Clean(f.scripts.captions[0].text) + "\"";
    }
    out += "\n";
  }
  if (!f.scripts.others.empty()) {
    out += "Other script tags:";
    for (size_t i = 0; i < f.scripts.others.size(); ++i) {
      out += (i == 0 ? " " : ", ") + Clean(f.scripts.others[i].first, 40) + " x" +
             std::to_string(f.scripts.others[i].second);
    }
    out += "\n";
  }
}

void ProblemLines(const Facts& f, std::string& out) {
  const ProblemList& list = f.problems;
  if (list.Total() == 0) {
    if (f.file.coverage == Coverage::kComplete) out += "Problems: none\n";
    return;
  }
  out += "Problems: " + std::to_string(list.Total()) + "\n";
  for (size_t k = 0; k < static_cast<size_t>(ProblemKind::kCount); ++k) {
    const auto kind = static_cast<ProblemKind>(k);
    const int64_t count = list.Count(kind);
    if (count == 0) continue;
    if (kind == ProblemKind::kPrevTagSize && f.damage.prevTagSizes.allWrongBySame) {
      const Problem* first = list.First(kind);
      out += "  PreviousTagSize wrong in every one of " + std::to_string(count) +
             " tags, each by " + (f.damage.prevTagSizes.delta > 0 ? "+" : "") +
             Counted(f.damage.prevTagSizes.delta, "byte", "bytes") + " (a writer's habit)" +
             (first ? Location(*first) : "") + "\n";
      continue;
    }
    size_t shown = 0;
    for (const Problem& p : list.Kept()) {
      if (p.kind != kind) continue;
      if (shown++ == kProblemsPerKindShown) break;
      out += "  " + std::string(ProblemKindName(kind)) + Location(p) + ": " + Clean(p.text, 200) +
             "\n";
    }
    if (count > static_cast<int64_t>(kProblemsPerKindShown)) {
      out += "  ... " + std::to_string(count - static_cast<int64_t>(kProblemsPerKindShown)) +
             " more: " + std::string(ProblemKindName(kind)) + "\n";
    }
  }
}

}  // namespace

std::string Report(const Facts& f) {
  std::string out;
  if (!f.file.isFlv) {
    out += "Container: not an FLV file\n";
    out += "File size: " + FormatBytes(f.file.size) + "\n";
    ProblemLines(f, out);
    return out;
  }
  out += "Container: FLV version " + std::to_string(f.file.header.version);
  const bool audio = f.streams.audio.present(), video = f.streams.video.present();
  out += audio && video ? ", audio + video"
         : audio        ? ", audio only"
         : video        ? ", video only"
                        : ", no streams";
  if (f.file.coverage == Coverage::kQuick) out += " (from its start and end only)";
  if (f.file.coverage == Coverage::kPartial && f.file.size > 0) {
    out += " (read " + std::to_string(f.file.bytesWalked * 100 / f.file.size) + " % so far)";
  }
  out += "\n";
  out += "File size: " + FormatBytes(f.file.size);
  if (f.file.size >= 1024) out += " (" + std::to_string(f.file.size) + " bytes)";
  out += "\n";
  StreamLines(f, true, out);
  StreamLines(f, false, out);
  LengthLines(f, out);
  out += "Tags: " + std::to_string(f.file.tags) + " (audio " +
         std::to_string(f.streams.audio.tags) + ", video " + std::to_string(f.streams.video.tags) +
         ", script " + std::to_string(f.file.scriptTags) + ")\n";
  if (f.index.kind == IndexKind::kVideoKeyframes) {
    out +=
        "Seek index: " + Counted(std::ssize(f.index.entries), "video keyframe", "video keyframes") +
        "\n";
  } else if (f.index.kind == IndexKind::kAudio) {
    out +=
        "Seek index: " + Counted(std::ssize(f.index.entries), "audio point", "audio points") + "\n";
  }
  ScriptLines(f, out);
  ProblemLines(f, out);
  return out;
}

}  // namespace flv_reader
