#include "player/file_facts.h"

#include <algorithm>

#include "media/flv/codec_names.h"
#include "media/flv/report.h"
#include "media/mp4/report.h"

namespace {

// Moments of the file (in seconds on its own clock; negative: none) on the
// player's clock, in time order, each with its text.
template <typename Item, typename When, typename Text>
QList<std::pair<double, QString>> OnPlayerClock(const std::vector<Item>& items, double origin,
                                                When when, Text text) {
  QList<std::pair<double, QString>> out;
  for (const Item& item : items) {
    const double at = when(item);
    if (!(at >= 0)) continue;
    out.append({std::max(at - origin, 0.0), QString::fromStdString(text(item))});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return out;
}

}  // namespace

void FileFacts::Apply(const flv_reader::Facts& facts) {
  if (!facts.file.isFlv) return;
  mp4_.reset();
  facts_ = facts;
  const flv_reader::LengthChoice length = flv_reader::ChooseLength(facts);
  known_ = length.source != flv_reader::LengthSource::kNone;
  origin_ = double(length.startMs) / 1000.0;
  length_ = double(length.ms) / 1000.0;
  cues_ = OnPlayerClock(
      facts.scripts.cuePoints, origin_,
      [](const flv_reader::CuePoint& cue) {
        return cue.timeSec >= 0 ? cue.timeSec : double(cue.tagMs) / 1000.0;
      },
      [](const flv_reader::CuePoint& cue) { return cue.name; });
  // The same cue point in onMetaData and in a tag of its own is one.
  cues_.erase(std::unique(cues_.begin(), cues_.end()), cues_.end());
  captions_ = OnPlayerClock(
      facts.scripts.captions, origin_,
      [](const flv_reader::Caption& caption) { return double(caption.timeMs) / 1000.0; },
      [](const flv_reader::Caption& caption) { return caption.text; });
}

void FileFacts::Apply(const mp4_reader::Facts& facts) {
  if (!facts.isMp4) return;
  *this = FileFacts{};
  mp4_ = facts;
  const int64_t held = mp4_reader::HeldMs(facts);
  known_ = held > 0;
  length_ = double(held) / 1000.0;
}

void FileFacts::Forget() { *this = FileFacts{}; }

stream_facts::CuePoints FileFacts::CuePoints() const {
  stream_facts::CuePoints cues;
  cues.reserve(cues_.size());
  for (const auto& [seconds, name] : cues_) cues.append({seconds, name});
  return cues;
}

QString FileFacts::CaptionAt(double seconds) const {
  constexpr double kLongestCaption = 6;
  const auto after = std::upper_bound(captions_.cbegin(), captions_.cend(), seconds,
                                      [](double t, const auto& c) { return t < c.first; });
  if (after == captions_.cbegin() || seconds - std::prev(after)->first >= kLongestCaption) {
    return {};
  }
  return std::prev(after)->second;
}

QString FileFacts::WhatItHolds() const {
  if (mp4_) return QString::fromStdString(mp4_reader::CutShort(*mp4_));
  if (!facts_.file.isFlv || facts_.file.coverage == flv_reader::Coverage::kNone) return {};
  const bool framesFound = facts_.streams.audio.frames + facts_.streams.video.frames > 0;
  if (!framesFound && facts_.file.coverage == flv_reader::Coverage::kComplete) {
    return facts_.file.tags == 0 ? QStringLiteral("after its FLV header it holds no complete tag")
           : facts_.file.tags == 1
               ? QStringLiteral("its one tag holds no picture or sound")
               : QStringLiteral("its %1 tags hold no picture or sound").arg(facts_.file.tags);
  }
  if (facts_.damage.lastTagCut && facts_.damage.cutTagMs >= 0) {
    const double seconds =
        std::max(double(facts_.damage.cutTagMs) - double(facts_.clock.firstMs), 0.0) / 1000;
    return QStringLiteral("it is cut off after %1 s").arg(seconds, 0, 'f', 2);
  }
  return {};
}

stream_facts::Tracks FileFacts::Named(stream_facts::Tracks tracks, bool audioUndecodable,
                                      bool videoUndecodable, bool pictureTooLarge) const {
  const auto name = [](const flv_reader::StreamFacts& stream, bool video) {
    return QString::fromStdString(flv_reader::CodecNoticeName(stream.codec, video));
  };
  if (known_ && audioUndecodable && facts_.streams.audio.present() &&
      facts_.streams.audio.codec.present()) {
    tracks.audio.description = name(facts_.streams.audio, false);
  }
  if (known_ && videoUndecodable && !pictureTooLarge && facts_.streams.video.present() &&
      facts_.streams.video.codec.present()) {
    tracks.video.description = name(facts_.streams.video, true);
  }
  return tracks;
}

QString FileFacts::CutShort() const {
  const QString cut = mp4_ ? QString::fromStdString(mp4_reader::CutShort(*mp4_)) : QString();
  return cut.isEmpty() ? cut : cut.left(1).toUpper() + cut.mid(1);
}

bool FileFacts::WantsSoundRate() const {
  return soundRate_ == 0 && facts_.streams.audio.codecId == flv_reader::kAudioAac &&
         facts_.streams.audio.sampleRate > 0 && facts_.streams.audio.sampleRate <= 24000;
}

QString FileFacts::Report() const {
  if (mp4_) return QString::fromStdString(mp4_reader::Report(*mp4_)).trimmed();
  if (!facts_.file.isFlv) return {};
  if (soundRate_ == 2 * facts_.streams.audio.sampleRate &&
      facts_.streams.audio.codecId == flv_reader::kAudioAac) {
    flv_reader::Facts heard = facts_;
    heard.streams.audio.sampleRate = soundRate_;
    return QString::fromStdString(flv_reader::Report(heard)).trimmed();
  }
  return QString::fromStdString(flv_reader::Report(facts_)).trimmed();
}

QString FileFacts::Waiting(bool growing) const {
  if (!growing || facts_.file.coverage != flv_reader::Coverage::kComplete ||
      facts_.damage.trailingBytes == 0) {
    return {};
  }
  // Where the last frame ends, on the player's clock, in whole seconds.
  const qint64 seconds =
      std::max<qint64>(facts_.clock.endMs - std::max<qint64>(facts_.clock.firstMs, 0), 0) / 1000;
  return QStringLiteral("The file being written holds no media after %1:%2; waiting")
      .arg(seconds / 60)
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
