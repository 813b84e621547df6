#include "player/file_report.h"

#include <QStringList>

QString FileReport(const FileReportInputs& in) {
  QStringList lines;
  const bool reading = !in.readingReport.isEmpty();
  if (reading) {
    lines << in.readingReport;
  } else if (!in.networkUrl.isEmpty()) {
    const QString protocol = in.networkUrl.section(u':', 0, 0);
    lines << QStringLiteral("Address: %1 (%2)").arg(in.networkUrl, protocol);
    const QString seconds = QString::number(in.length.seconds, 'f', 2);
    lines << (in.length.live ? QStringLiteral("Length: none, a live stream")
              : in.length.source == LengthClock::Source::kTail
                  ? QStringLiteral("Length: %1 s, measured from the file's end over the network")
                        .arg(seconds)
                  : QStringLiteral("Length: %1 s, as the stream says").arg(seconds));
  }
  if (!reading && in.open) {
    if (in.tracks.video.present) lines << QStringLiteral("Video: ") + in.tracks.video.description;
    if (in.tracks.audio.present) lines << QStringLiteral("Audio: ") + in.tracks.audio.description;
  }
  if (!in.decodeProblem.isEmpty()) lines << in.decodeProblem;
  return lines.join(QLatin1Char('\n'));
}
