#include "player/opening_progress.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

QString Size(qint64 bytes) {
  if (bytes < 1024 * 1024) return QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
  return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

}  // namespace

void OpeningProgress::Start(const QString& host) {
  host_ = host;
  received_ = 0;
  total_ = 0;
}

void OpeningProgress::Note(const engine::LogLine& line) {
  // "4096=mp_read(0x..., 0x..., 32768), pos: 4096, eof:0": the demuxer got
  // 4096 bytes more.
  static const QRegularExpression kRead(QStringLiteral("^(\\d+)=mp_read\\("));
  static const QRegularExpression kLength(QStringLiteral("Content-Length: *(\\d+)"),
                                          QRegularExpression::CaseInsensitiveOption);
  if (const QRegularExpressionMatch read = kRead.match(line.text); read.hasMatch()) {
    received_ += read.captured(1).toLongLong();
  } else if (const QRegularExpressionMatch length = kLength.match(line.text); length.hasMatch()) {
    total_ = length.captured(1).toLongLong();
  }
}

void OpeningProgress::SetReceived(qint64 received, qint64 total) {
  received_ = received;
  total_ = std::max<qint64>(total, 0);
}

QString OpeningProgress::Text(qint64 elapsedMs) const {
  if (received_ == 0) {
    return QStringLiteral("Connecting to %1\u2026 %2 s").arg(host_).arg(elapsedMs / 1000);
  }
  if (total_ > 0) {
    return QStringLiteral("Waiting for %1: %2 of %3 received")
        .arg(host_, Size(received_), Size(total_));
  }
  return QStringLiteral("Waiting for %1: %2 received").arg(host_, Size(received_));
}
