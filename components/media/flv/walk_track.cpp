#include "media/flv/walk_track.h"

#include <algorithm>
#include <string>

#include "media/flv/codec_names.h"
#include "media/flv/flv_format.h"
#include "media/flv/text_format.h"

namespace flv_reader::walk {
namespace {

constexpr size_t kMaxCodecsListed = 8;

// Legacy codecs as the walk has always named them, "H.264 (7)"; the others
// by their full names.
std::string Label(const CodecTag& codec, bool video) {
  if (codec.fourCc == 0 && codec.legacy != 12) {
    return std::string(video ? VideoCodecName(codec.legacy) : AudioCodecName(codec.legacy)) + " (" +
           std::to_string(codec.legacy) + ")";
  }
  return CodecListName(codec, video);
}

}  // namespace

std::optional<Track> TrackFor(Pass& p, bool audio, int id) {
  StreamState& main = audio ? p.s.audio : p.s.video;
  if (main.mainTrack < 0) main.mainTrack = id;
  if (main.mainTrack == id)
    return Track{audio ? p.s.facts.streams.audio : p.s.facts.streams.video, main, true};
  std::vector<TrackState>& others = audio ? p.s.audioTracks : p.s.videoTracks;
  for (TrackState& t : others) {
    if (t.id == id) return Track{t.facts, t.state, false};
  }
  if (others.size() + 1 >= kMaxTracksListed) {
    ++p.s.facts.streams.tracksLeftOut;
    return std::nullopt;
  }
  others.push_back({});
  others.back().id = id;
  others.back().facts.trackId = id;
  return Track{others.back().facts, others.back().state, false};
}

void TrackCodec(Pass& p, Track t, const CodecTag& codec, bool video, int64_t at, int64_t ms) {
  StreamState& state = t.state;
  StreamFacts& stream = t.facts;
  if (state.currentCodec == codec) return;
  if (state.currentCodec.present()) {
    if (t.main) {
      p.Problem(ProblemKind::kCodecChange, at, ms,
                std::string(video ? "video" : "audio") + " codec changes from " +
                    Label(state.currentCodec, video) + " to " + Label(codec, video));
    }
    state.pictureAttempts = 0;
    state.configSeen = false;
    state.configMissingNamed = false;
  }
  if (codec.fourCc == 0) {
    if (stream.codecId < 0) stream.codecId = codec.legacy;
    if (stream.codecIds.size() < kMaxCodecsListed &&
        std::find(stream.codecIds.begin(), stream.codecIds.end(), codec.legacy) ==
            stream.codecIds.end()) {
      stream.codecIds.push_back(codec.legacy);
    }
  }
  if (!stream.codec.present()) stream.codec = codec;
  if (stream.codecs.size() < kMaxCodecsListed &&
      std::find(stream.codecs.begin(), stream.codecs.end(), codec) == stream.codecs.end()) {
    stream.codecs.push_back(codec);
  }
  state.currentCodec = codec;
}

void Step(Pass& p, Track t, bool video, int64_t at, int64_t ms, bool frame, int32_t ns) {
  StreamFacts& stream = t.facts;
  StreamState& state = t.state;
  if (frame) {
    ++stream.frames;
    if (stream.firstMs < 0) stream.firstMs = ms;
  }
  if (state.prevMs >= 0) {
    const int64_t step = ms - state.prevMs;
    auto text = [&](const char* how, int64_t length) {
      return std::string(video ? "video" : "audio") + " timestamps " + how + " " +
             FormatLength(length) + ", from " + FormatClock(state.prevMs) + " to " +
             FormatClock(ms);
    };
    if (step > p.o.leapMs) {
      ++stream.leaps;
      if (t.main) p.Problem(ProblemKind::kTimestampLeap, at, ms, text("leap ahead", step));
    } else if (step < 0) {
      ++stream.backwards;
      if (t.main) p.Problem(ProblemKind::kTimestampBackwards, at, ms, text("step back", -step));
    } else if (frame && state.prevWasFrame) {
      state.stepSum += step;
      state.stepNsSum += ns - state.prevNs;
      ++state.steps;
    }
  }
  state.prevMs = ms;
  state.prevNs = ns;
  state.prevWasFrame = frame;
  if (!frame) return;
  stream.lastMs = ms;
  stream.maxMs = std::max(stream.maxMs, ms);
  p.s.lastMediaMs = ms;
}

void IndexAudio(Pass& p, int64_t at, int64_t ms) {
  SparseIndex& index = p.s.audioIndex;
  if (index.lastMs < 0 || ms - index.lastMs >= p.o.audioIndexSpacingMs || ms < index.lastMs) {
    index.lastMs = ms;
    index.Add({ms, at}, p.o.maxIndexEntries);
  }
}

}  // namespace flv_reader::walk
