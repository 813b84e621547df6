#pragma once

#include <QEvent>
#include <QObject>
#include <QSize>
#include <QString>
#include <QWidget>
#include <memory>

class MpvPlayer;

namespace testsupport {

// Makes an FLV with ffmpeg into `dir` and returns its path ("" on failure).
// `videoArgs` and `audioArgs` are ffmpeg arguments such as lavfi sources and
// codecs; the file is `seconds` long.
QString MakeFlv(const QString& dir, const QString& name, const QStringList& ffmpegArgs);

// The whole content of `path`; empty when it cannot be read. Files under
// /proc report a size of 0 and are read whole all the same.
QByteArray ReadFile(const QString& path);

// A read-only descriptor for `path` (the caller owns it), or -1.
int OpenReadOnly(const QString& path);

// Writes `data` to `path`; returns the path, or "" when the write failed.
QString WriteFile(const QString& path, const QByteArray& data);

// Makes `host` a shown top-level window of `size` holding a player of the
// same size with null audio. Returns the player, or null if the window never
// became visible.
MpvPlayer* ShowPlayerIn(std::unique_ptr<QWidget>& host, QSize size = QSize(320, 240));

// Counts mouse presses that reach the widget it filters.
class PressCounter : public QObject {
 public:
  int presses = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonPress) ++presses;
    return false;
  }
};

}  // namespace testsupport
