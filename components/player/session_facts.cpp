#include <QStringList>
#include <algorithm>
#include <cmath>

#include "media/flv/report.h"
#include "player/session.h"

// What the player's own reading of a file adds to what the engine says: the
// true length and where the file's clock starts, cue points, the report for
// the information view, and the FLV names of codecs the engine cannot name.

void Session::ApplyFacts(const flv_reader::Facts& facts) {
  if (!facts.isFlv) return;
  facts_ = facts;
  const flv_reader::LengthChoice length = flv_reader::ChooseLength(facts);
  haveFacts_ = length.source != flv_reader::LengthSource::kNone;
  factsOrigin_ = double(length.startMs) / 1000.0;
  factsLength_ = double(length.ms) / 1000.0;
  UpdateDuration();

  stream_facts::CuePoints cues;
  for (const flv_reader::CuePoint& cue : facts.cuePoints) {
    const double at = cue.timeSec >= 0 ? cue.timeSec : double(cue.tagMs) / 1000.0;
    if (!(at >= 0)) continue;
    cues.append({std::max(at - factsOrigin_, 0.0), QString::fromStdString(cue.name)});
  }
  std::stable_sort(cues.begin(), cues.end(),
                   [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
  cues.erase(std::unique(cues.begin(), cues.end()), cues.end());
  state_.SetCuePoints(cues);

  captions_.clear();
  for (const flv_reader::Caption& caption : facts.captions) {
    captions_.append({std::max(double(caption.timeMs) / 1000.0 - factsOrigin_, 0.0),
                      QString::fromStdString(caption.text)});
  }
  std::stable_sort(captions_.begin(), captions_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  UpdateCaption();
  UpdateStreams();
  UpdateReport();
}

void Session::ForgetFacts() {
  facts_ = {};
  haveFacts_ = false;
  factsOrigin_ = 0;
  factsLength_ = 0;
  state_.SetCuePoints({});
  captions_.clear();
  state_.SetCaption({});
  state_.SetFileReport({});
}

QString Session::WhatTheReaderFound() const {
  if (!facts_.isFlv || facts_.coverage == flv_reader::Coverage::kNone) return {};
  const bool framesFound = facts_.audio.frames + facts_.video.frames > 0;
  if (!framesFound && facts_.coverage == flv_reader::Coverage::kComplete) {
    return facts_.tags == 0
               ? QStringLiteral("after its FLV header it holds no complete tag")
               : QStringLiteral("its %1 tags hold no picture or sound").arg(facts_.tags);
  }
  if (facts_.lastTagCut && facts_.cutTagMs >= 0) {
    const double seconds = std::max(double(facts_.cutTagMs) - double(facts_.firstMs), 0.0) / 1000;
    return QStringLiteral("it is cut off after %1 s").arg(seconds, 0, 'f', 2);
  }
  return {};
}

void Session::UpdateCaption() {
  // A caption says nothing of how long it lasts: it stays until the next,
  // or for as long as a line of subtitles usually does.
  constexpr double kLongestCaption = 6;
  const double now = state_.position();
  const auto after = std::upper_bound(captions_.cbegin(), captions_.cend(), now,
                                      [](double t, const auto& c) { return t < c.first; });
  QString text;
  if (after != captions_.cbegin() && now - std::prev(after)->first < kLongestCaption) {
    text = std::prev(after)->second;
  }
  state_.SetCaption(text);
}

double Session::NetworkLength(double engineLength) {
  lengthFromTail_ = false;
  double length = engineLength;
  // A live stream has no length to correct; and until the engine has opened
  // the file, its length and first timestamp may still be the file before's.
  if (address_.IsNetwork() && tailEnd_ >= 0 && !lengthUnknown_ && fileOpen_ &&
      IsCurrent(startedEntry_)) {
    // The engine takes onMetaData's word, and a recorder that never went back
    // to fill it in leaves 0 there, or nonsense. Close enough is left alone:
    // the tail's last timestamp is where the last frame starts, not ends.
    const double measured = tailEnd_ - startTime_;
    const bool engineWrong = !(engineLength > 0) || flv_reader::AbsurdDuration(engineLength) ||
                             std::abs(engineLength - measured) > std::max(1.0, 0.05 * measured);
    if (measured > 0 && engineWrong) {
      length = measured;
      lengthFromTail_ = true;
    }
  }
  return length;
}

void Session::OnTailFound(qint64 endMs) {
  tailEnd_ = double(endMs) / 1000.0;
  // Its end was read: a file, however its length grew while the engine read.
  lengthUnknown_ = false;
  UpdateDuration();
}

double Session::Origin() const {
  // Without a reading of its own, the clock starts where the engine's does.
  return haveFacts_ ? factsOrigin_ : startTime_;
}

double Session::FromEngineClock(double engineSeconds) const {
  // The engine counts from the first timestamp its demuxer saw, the player
  // from the file's first frame: the two differ when, say, a B-frame's
  // presentation time comes after its tag's.
  return std::max(engineSeconds + startTime_ - Origin(), 0.0);
}

stream_facts::Tracks Session::NamedTracks() const {
  stream_facts::Tracks tracks = tracks_;
  // The engine names no codec it has no decoder for; the file says which.
  const auto name = [](const flv_reader::StreamFacts& stream, bool audio) {
    const std::string_view codec = audio ? flv_reader::AudioCodecName(stream.codecId)
                                         : flv_reader::VideoCodecName(stream.codecId);
    return QStringLiteral("%1 (FLV %2 %3)")
        .arg(QString::fromUtf8(codec.data(), qsizetype(codec.size())),
             audio ? QStringLiteral("sound format") : QStringLiteral("codec"))
        .arg(stream.codecId);
  };
  if (haveFacts_ && audioUndecodable_ && facts_.audio.present() && facts_.audio.codecId >= 0) {
    tracks.audio.description = name(facts_.audio, true);
  }
  if (haveFacts_ && videoUndecodable_ && pictureTooLarge_.isEmpty() && facts_.video.present() &&
      facts_.video.codecId >= 0) {
    tracks.video.description = name(facts_.video, false);
  }
  if (!viewAudioProblem_.isEmpty()) tracks.audio.description = viewAudioProblem_;
  if (!viewVideoProblem_.isEmpty()) tracks.video.description = viewVideoProblem_;
  return tracks;
}

void Session::UpdateReport() {
  QStringList lines;
  if (haveFacts_) {
    lines << QString::fromStdString(flv_reader::Report(facts_)).trimmed();
  } else if (address_.IsNetwork()) {
    const QString protocol = address_.url.section(u':', 0, 0);
    lines << QStringLiteral("Address: %1 (%2)").arg(address_.url, protocol);
    lines << (state_.live()     ? QStringLiteral("Length: none, a live stream")
              : lengthFromTail_ ? QStringLiteral("Length: %1 s, measured from the file's end "
                                                 "over the network")
                                      .arg(state_.duration(), 0, 'f', 2)
                                : QStringLiteral("Length: %1 s, as the stream says")
                                      .arg(state_.duration(), 0, 'f', 2));
  }
  if (!haveFacts_ && tracksSettled_) {
    if (tracks_.video.present) lines << QStringLiteral("Video: ") + tracks_.video.description;
    if (tracks_.audio.present) lines << QStringLiteral("Audio: ") + tracks_.audio.description;
  }
  if (!state_.decodeProblem().isEmpty()) lines << state_.decodeProblem();
  state_.SetFileReport(lines.join(QLatin1Char('\n')));
}
