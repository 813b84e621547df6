#include "media/mp4/report.h"

#include <cstdio>

#include "media/flv/text_format.h"

namespace mp4_reader {
namespace {

using flv_reader::FormatBytes;
using flv_reader::FormatClock;
using flv_reader::FormatLength;

constexpr size_t kProblemsShown = 8;

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Codec(const Track& t) {
  const std::string name = CodecName(t.codec, t.objectType);
  const std::string fourcc = t.codec.empty() ? "no sample description" : "\"" + t.codec + "\"";
  return name.empty() ? "unknown codec " + fourcc : name + " (" + fourcc + ")";
}

void TrackLine(const Track& t, std::string& out) {
  const double seconds = static_cast<double>(TicksToMs(t.heldTicks, t.timescale)) / 1000;
  if (t.kind == TrackKind::kVideo) {
    out += "Video: " + Codec(t);
    if (t.width > 0 && t.height > 0) {
      out += ", " + std::to_string(t.width) + "x" + std::to_string(t.height);
    }
    if (seconds > 0 && t.heldSamples > 1) {
      out += ", " + Fixed(static_cast<double>(t.heldSamples) / seconds, 2) + " fps";
    }
  } else {
    out += "Audio: " + Codec(t);
    if (t.sampleRate > 0) {
      out += ", " +
             (t.sampleRate % 1000 == 0 ? std::to_string(t.sampleRate / 1000)
                                       : Fixed(t.sampleRate / 1000.0, 1)) +
             " kHz";
    }
    if (t.channels > 0) {
      out += t.channels == 1   ? ", mono"
             : t.channels == 2 ? ", stereo"
                               : ", " + std::to_string(t.channels) + " channels";
    }
  }
  if (seconds > 0 && t.heldBytes > 0) {
    const double kbit = static_cast<double>(t.heldBytes) * 8 / seconds / 1000;
    if (kbit >= 0.5) out += ", " + Fixed(kbit, 0) + " kbit/s";
  }
  if (t.kind == TrackKind::kVideo) {
    out += ", " + std::to_string(t.samples) + (t.samples == 1 ? " frame" : " frames");
    if (t.keyframes >= 0) out += " (" + std::to_string(t.keyframes) + " key)";
  }
  out += "\n";
}

void LengthLine(const Facts& f, std::string& out) {
  const int64_t held = HeldMs(f);
  const int64_t claimed = ClaimedMs(f);
  out += "Length: ";
  if (held <= 0 && claimed <= 0) {
    out += "unknown\n";
    return;
  }
  out += FormatLength(held > 0 ? held : claimed);
  if (f.cut) {
    out += claimed > 0 ? " held (the header claims " + FormatLength(claimed) + ")"
                       : " held (the rest is cut off)";
  } else if (held > 0 && claimed > 0 && (held - claimed > 1000 || claimed - held > 1000)) {
    out += " in its samples (the header claims " + FormatLength(claimed) + ")";
  } else if (held <= 0) {
    out += " (the header's word)";
  }
  out += "\n";
}

void ProblemLines(const Facts& f, std::string& out) {
  if (f.problemCount == 0) {
    out += "Problems: none\n";
    return;
  }
  out += "Problems: " + std::to_string(f.problemCount) + "\n";
  for (size_t i = 0; i < f.problems.size() && i < kProblemsShown; ++i) {
    const Problem& p = f.problems[i];
    std::string where;
    if (p.timeMs >= 0) where += "at " + FormatClock(p.timeMs);
    if (p.offset >= 0)
      where += (where.empty() ? "(offset " : " (offset ") + std::to_string(p.offset) + ")";
    out += "  " + (where.empty() ? "" : where + ": ") + p.text + "\n";
  }
  if (f.problemCount > static_cast<int64_t>(kProblemsShown)) {
    out += "  ... " + std::to_string(f.problemCount - static_cast<int64_t>(kProblemsShown)) +
           " more\n";
  }
}

}  // namespace

std::string Report(const Facts& f) {
  std::string out = "Container: ";
  out += f.brand.rfind("qt", 0) == 0    ? "QuickTime"
         : f.brand.rfind("3g", 0) == 0  ? "3GP"
         : f.brand.rfind("f4v", 0) == 0 ? "F4V"
                                        : "MP4";
  if (!f.brand.empty()) out += " (brand \"" + f.brand + "\")";
  bool audio = false, video = false;
  for (const Track& t : f.tracks) {
    audio = audio || (t.present() && t.kind == TrackKind::kAudio);
    video = video || (t.present() && t.kind == TrackKind::kVideo);
  }
  out += audio && video ? ", audio + video"
         : audio        ? ", audio only"
         : video        ? ", video only"
                        : ", no streams";
  if (f.fragments > 0) out += ", in " + std::to_string(f.fragments) + " fragments";
  out += "\n";
  out += "File size: " + FormatBytes(f.fileSize);
  if (f.fileSize >= 1024) out += " (" + std::to_string(f.fileSize) + " bytes)";
  out += "\n";
  for (const Track& t : f.tracks) {
    if (t.present() && t.kind == TrackKind::kVideo) TrackLine(t, out);
  }
  for (const Track& t : f.tracks) {
    if (t.present() && t.kind == TrackKind::kAudio) TrackLine(t, out);
  }
  LengthLine(f, out);
  out += "Tracks: " + std::to_string(f.tracks.size()) + ", header at offset " +
         std::to_string(f.moovOffset) + " (" + FormatBytes(f.moovBytes) + ")\n";
  ProblemLines(f, out);
  return out;
}

}  // namespace mp4_reader
