#include "media/stream_facts.h"

#include <QStringList>

namespace stream_facts {

Verdict Judge(const Tracks& tracks, bool settled, bool audioUndecodable, bool videoUndecodable) {
  const auto what = [](const Track& track) {
    return track.description.isEmpty() ? QStringLiteral("unknown codec") : track.description;
  };
  QStringList problems;
  if (audioUndecodable) {
    problems << QStringLiteral("Audio could not be decoded: %1").arg(what(tracks.audio));
  }
  if (videoUndecodable) {
    problems << QStringLiteral("Video could not be decoded: %1").arg(what(tracks.video));
  }
  return {settled && tracks.audio.present && !audioUndecodable &&
              (!tracks.video.present || videoUndecodable),
          problems.join(QLatin1Char('\n'))};
}

}  // namespace stream_facts
