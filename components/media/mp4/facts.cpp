#include "media/mp4/facts.h"

#include <algorithm>
#include <cstdio>

namespace mp4_reader {
namespace {

// Whole seconds, rounded down: what is held lasts at least this long.
std::string WholeClock(int64_t ms) {
  const int64_t s = std::max<int64_t>(ms, 0) / 1000;
  char text[48];
  if (s < 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  }
  return text;
}

}  // namespace

int64_t TicksToMs(int64_t ticks, uint32_t timescale) {
  if (timescale == 0 || ticks <= 0) return 0;
  // In two parts, so that no tick count a file can write overflows.
  const int64_t whole = ticks / timescale;
  const int64_t rest = ticks % timescale;
  if (whole > INT64_MAX / 1000 - 1) return INT64_MAX / 2;
  return whole * 1000 + rest * 1000 / timescale;
}

int64_t ClaimedMs(const Facts& facts) {
  const int64_t movie =
      TicksToMs(static_cast<int64_t>(std::min<uint64_t>(facts.movieDuration, INT64_MAX)),
                facts.movieTimescale);
  if (movie > 0) return movie;
  int64_t longest = 0;
  for (const Track& t : facts.tracks) {
    longest = std::max(
        longest, TicksToMs(static_cast<int64_t>(std::min<uint64_t>(t.mediaDuration, INT64_MAX)),
                           t.timescale));
  }
  return longest;
}

int64_t HeldMs(const Facts& facts) {
  if (facts.cut) return facts.cutMs;
  int64_t longest = 0;
  for (const Track& t : facts.tracks) {
    if (t.present()) longest = std::max(longest, TicksToMs(t.durationTicks, t.timescale));
  }
  return longest;
}

std::string CutShort(const Facts& facts) {
  if (!facts.cut) return {};
  std::string text = "it is cut off after " + WholeClock(facts.cutMs);
  const int64_t claimed = ClaimedMs(facts);
  if (claimed / 1000 > facts.cutMs / 1000) text += "; the header claims " + WholeClock(claimed);
  return text;
}

int64_t EngineEnd(const Facts& facts) {
  // A chunk may lie wholly past the end: the file's end is then the engine's.
  return facts.cut ? std::min(facts.cutOffset, facts.fileSize) : -1;
}

std::string CodecName(const std::string& fourcc, int objectType) {
  if (fourcc == "mp4a") {
    // The decoder config says which MPEG audio it is.
    if (objectType == 0x69 || objectType == 0x6b) return "MP3";
    return "AAC";
  }
  if (fourcc == "mp4v") return "MPEG-4 Visual";
  struct Name {
    const char* fourcc;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {"avc1", "H.264"},        {"avc3", "H.264"},       {"hvc1", "HEVC"},
      {"hev1", "HEVC"},         {"vp08", "VP8"},         {"vp09", "VP9"},
      {"av01", "AV1"},          {"s263", "H.263"},       {"h263", "H.263"},
      {"jpeg", "JPEG"},         {"mjpa", "Motion JPEG"}, {"SVQ3", "Sorenson Video 3"},
      {"ac-3", "AC-3"},         {"ec-3", "E-AC-3"},      {"Opus", "Opus"},
      {"fLaC", "FLAC"},         {"alac", "ALAC"},        {"samr", "AMR-NB"},
      {"sawb", "AMR-WB"},       {".mp3", "MP3"},         {"sowt", "PCM"},
      {"twos", "PCM"},          {"lpcm", "PCM"},         {"ipcm", "PCM"},
      {"ulaw", "G.711 mu-law"}, {"alaw", "G.711 A-law"},
  };
  for (const Name& n : kNames) {
    if (fourcc == n.fourcc) return n.name;
  }
  return {};
}

void AddProblem(Facts& facts, const Limits& limits, Problem problem) {
  ++facts.problemCount;
  if (static_cast<int64_t>(facts.problems.size()) < limits.maxProblems) {
    facts.problems.push_back(std::move(problem));
  }
}

}  // namespace mp4_reader
