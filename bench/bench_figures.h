#pragma once

// Figures both benchmark modes take: memory from /proc/self/status, and
// medians.
#include <QFile>
#include <QList>
#include <algorithm>

namespace bench_figures {

// A "VmRSS:" or "VmHWM:" line of /proc/self/status, in KiB; -1 when unread.
inline qint64 StatusKb(const char* key) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith(key)) {
      return line.mid(qsizetype(qstrlen(key))).trimmed().split(' ').value(0).toLongLong();
    }
  }
  return -1;
}

inline qint64 RssKb() { return StatusKb("VmRSS:"); }
inline qint64 PeakRssKb() { return StatusKb("VmHWM:"); }

inline double Median(QList<double> values) {
  if (values.isEmpty()) return -1;
  std::sort(values.begin(), values.end());
  const qsizetype mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace bench_figures
