#include "media/flv/walk_checks.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "media/flv/codec_names.h"
#include "media/flv/flv_format.h"
#include "media/flv/text_format.h"

namespace flv_reader::walk {
namespace {

// Entries of a claimed index looked up: half at its start, where a player
// seeks most, and half spread over the rest.
constexpr int64_t kMaxClaimedEntriesChecked = 64;

// A codec claim: a legacy number below 16, or a FourCC written as a number
// (the enhanced layout's way, four printable characters); nothing else.
CodecTag ClaimedCodec(double claim) {
  if (!std::isfinite(claim) || claim < 0 || claim != std::floor(claim) || claim > UINT32_MAX) {
    return {};
  }
  const auto n = static_cast<uint32_t>(claim);
  if (n < 16) return {static_cast<int>(n), 0};
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t c = (n >> shift) & 0xff;
    if (c < 0x20 || c >= 0x7f) return {};
  }
  return {-1, n};
}

}  // namespace

void CheckHeaderFlags(Facts& f) {
  auto problem = [&](std::string text) {
    f.problems.Add({ProblemKind::kHeader, 4, -1, std::move(text)});
  };
  if (f.file.header.audioFlag() && !f.streams.audio.present() && f.file.tags > 0) {
    problem("the header announces audio; the file has none");
  }
  if (!f.file.header.audioFlag() && f.streams.audio.present()) {
    problem("the file has audio the header does not announce");
  }
  if (f.file.header.videoFlag() && !f.streams.video.present() && f.file.tags > 0) {
    problem("the header announces video; the file has none");
  }
  if (!f.file.header.videoFlag() && f.streams.video.present()) {
    problem("the file has video the header does not announce");
  }
}

void CheckClaims(Facts& f) {
  const Metadata& m = f.scripts.metadata;
  if (m.tags == 0) return;
  auto problem = [&](ProblemKind kind, std::string text) {
    f.problems.Add({kind, m.offset, -1, "onMetaData " + std::move(text)});
  };
  const bool measured = f.streams.audio.frames + f.streams.video.frames > 0;
  if (m.duration) {
    const double d = *m.duration;
    if (AbsurdDuration(d)) {
      problem(ProblemKind::kMetadataAbsurd, "claims a duration of " + FormatClaim(d) + " s");
    } else if (measured) {
      if (!DurationAgrees(f, d)) {
        // A late start is told, since a claim may count from 0 or from it.
        const std::string span = f.clock.firstMs >= 100
                                     ? "run from " + FormatClock(f.clock.firstMs) + " to " +
                                           FormatClock(f.clock.endMs) + " (" +
                                           FormatLength(f.clock.durationMs) + ")"
                                     : "span " + FormatLength(f.clock.durationMs);
        problem(ProblemKind::kDurationDisagrees,
                "claims a duration of " + FormatLength(ClampedRound(d * 1000)) +
                    (d == 0 ? " (a recorder that never wrote it)" : "") + "; the tags " + span);
      }
    }
  }
  const bool widthAbsurd = m.width && AbsurdPictureSide(*m.width);
  const bool heightAbsurd = m.height && AbsurdPictureSide(*m.height);
  if (widthAbsurd || heightAbsurd) {
    problem(ProblemKind::kMetadataAbsurd, "claims a picture of " +
                                              FormatClaim(m.width.value_or(0)) + "x" +
                                              FormatClaim(m.height.value_or(0)));
  } else if (m.width && m.height && *m.width > 0 && *m.height > 0 &&
             f.streams.video.sizeFrom == SizeFrom::kFrameHeader &&
             (ClampedRound(*m.width) != f.streams.video.width ||
              ClampedRound(*m.height) != f.streams.video.height)) {
    problem(ProblemKind::kMetadataDisagrees, "claims a picture of " + FormatClaim(*m.width) + "x" +
                                                 FormatClaim(*m.height) + "; the video is " +
                                                 std::to_string(f.streams.video.width) + "x" +
                                                 std::to_string(f.streams.video.height));
  }
  auto rate = [&](const std::optional<double>& claim, const char* what, double top) {
    if (claim && (!std::isfinite(*claim) || *claim < 0 || *claim > top)) {
      problem(ProblemKind::kMetadataAbsurd,
              std::string("claims ") + what + " of " + FormatClaim(*claim));
    }
  };
  rate(m.framerate, "a frame rate", 1000);
  if (m.framerate && *m.framerate > 0 && *m.framerate < 0.01) {
    problem(ProblemKind::kMetadataAbsurd, "claims a frame rate of " + FormatClaim(*m.framerate));
  }
  rate(m.videodatarate, "a video data rate", 1e6);
  rate(m.audiodatarate, "an audio data rate", 1e6);
  rate(m.audiosamplerate, "an audio sample rate", 768000);
  if (m.filesize) {
    const double claim = *m.filesize;
    if (!std::isfinite(claim) || claim < 0) {
      problem(ProblemKind::kMetadataAbsurd, "claims a file size of " + FormatClaim(claim));
    } else if (claim > 0 && std::fabs(claim - static_cast<double>(f.file.size)) >
                                std::max(4096.0, 0.01 * static_cast<double>(f.file.size))) {
      problem(ProblemKind::kMetadataDisagrees,
              "claims a file size of " + FormatBytes(ClampedRound(std::min(claim, 9e18))) +
                  "; the file is " + FormatBytes(f.file.size));
    }
  }
  auto codec = [&](const std::optional<double>& claim, const StreamFacts& stream, bool video) {
    if (!claim || !stream.present() || !stream.codec.present()) return;
    const CodecTag claimed = ClaimedCodec(*claim);
    if (!claimed.present() || claimed == stream.codec) return;
    if (claimed.fourCc == 0 && stream.codec.fourCc == 0) {
      // Two codec numbers, as FLV has always written them.
      auto name = [&](int n) {
        return std::string(video ? VideoCodecName(n) : AudioCodecName(n)) + " (" +
               std::to_string(n) + ")";
      };
      problem(ProblemKind::kMetadataDisagrees,
              std::string("says the ") + (video ? "video" : "audio") + " codec is " +
                  name(claimed.legacy) + "; the tags hold " + name(stream.codec.legacy));
      return;
    }
    // A FourCC on either side: only two codecs this reader knows can
    // disagree, and the same codec written both ways agrees.
    const std::string a = CodecFamily(claimed, video), b = CodecFamily(stream.codec, video);
    if (a.empty() || b.empty() || a == b) return;
    problem(ProblemKind::kMetadataDisagrees,
            std::string("says the ") + (video ? "video" : "audio") + " codec is " +
                CodecListName(claimed, video) + "; the tags hold " +
                CodecListName(stream.codec, video));
  };
  codec(m.videocodecid, f.streams.video, true);
  codec(m.audiocodecid, f.streams.audio, false);
}

// The onMetaData keyframes index is only worth anything if its entries point
// at the tags they name: a few at the start and some spread over the rest
// are looked up in the file.
void CheckClaimedIndex(Facts& f, Reader& r) {
  const Metadata& m = f.scripts.metadata;
  if (m.keyframePositionCount < 0 && m.keyframeTimeCount < 0) return;
  auto problem = [&](std::string text) {
    f.problems.Add({ProblemKind::kKeyframeIndexDisagrees, m.offset, -1,
                    "onMetaData's keyframes index " + std::move(text)});
  };
  if (m.keyframePositionCount != m.keyframeTimeCount) {
    problem("lists " +
            Counted(std::max<int64_t>(m.keyframePositionCount, 0), "position", "positions") +
            " and " + Counted(std::max<int64_t>(m.keyframeTimeCount, 0), "time", "times"));
  }
  const int64_t n =
      static_cast<int64_t>(std::min(m.keyframePositions.size(), m.keyframeTimes.size()));
  if (n == 0) return;
  std::vector<int64_t> picks;
  for (int64_t i = 0; i < std::min<int64_t>(n, kMaxClaimedEntriesChecked / 2); ++i)
    picks.push_back(i);
  for (int64_t k = 1; k <= kMaxClaimedEntriesChecked / 2 && n > kMaxClaimedEntriesChecked / 2;
       ++k) {
    picks.push_back(kMaxClaimedEntriesChecked / 2 - 1 +
                    (n - kMaxClaimedEntriesChecked / 2) * k / (kMaxClaimedEntriesChecked / 2));
  }
  std::sort(picks.begin(), picks.end());
  picks.erase(std::unique(picks.begin(), picks.end()), picks.end());
  int64_t bad = 0;
  std::string first;
  for (const int64_t i : picks) {
    const double position = m.keyframePositions[static_cast<size_t>(i)];
    const double time = m.keyframeTimes[static_cast<size_t>(i)];
    std::string why;
    if (!std::isfinite(position) || position < 0 || position != std::floor(position) ||
        position + kTagHeaderBytes + 1 > static_cast<double>(f.file.size)) {
      why = "is past the end of the file";
    } else {
      const int64_t at = static_cast<int64_t>(position);
      const uint8_t* p = r.Get(at, kTagHeaderBytes + 1);
      const TagHeader tag = p ? ParseTagHeader(p) : TagHeader{};
      const bool wantVideo = f.streams.video.present();
      // The frame type, in either layout: the enhanced one sets the top bit.
      const int frameType = p ? (p[kTagHeaderBytes] >> 4) & 0x07 : 0;
      const bool kind =
          p && PlausibleTag(tag) &&
          (wantVideo ? tag.type == kVideoTag && frameType == 1 : tag.type == kAudioTag);
      if (!kind) {
        why = wantVideo ? "is no video keyframe" : "is no audio tag";
      } else if (!std::isfinite(time) || std::fabs(time * 1000 - tag.timestamp) > 1000) {
        why = "holds the tag of " + FormatClock(tag.timestamp) + ", not of " +
              (std::isfinite(time) ? FormatClock(ClampedRound(time * 1000)) : FormatClaim(time));
      }
    }
    if (why.empty()) continue;
    if (bad++ == 0) {
      first = "entry " + std::to_string(i + 1) + " (offset " + FormatClaim(position) + ") " + why;
    }
  }
  if (bad > 0) {
    const int64_t checked = std::ssize(picks);
    const std::string wrong =
        bad < checked ? std::to_string(bad) + " of the " + std::to_string(checked) +
                            " entries checked " + (bad == 1 ? "is" : "are")
        : checked == 1 ? "the one entry checked is"
                       : "all " + std::to_string(checked) + " entries checked are";
    problem("disagrees with the file: " + wrong + " wrong; " + first);
  }
}

}  // namespace flv_reader::walk
