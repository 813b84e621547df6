#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>
#include <optional>

// The movie files that the player component loads ("player.n",
// "player22.swf"): small JSON documents of our own, described in
// assets/movies/FORMAT.md.
namespace movie {

enum class Kind {
  kPlayer,  // plays the address it receives in the root variable "myuri"
  kStill,   // shows its background and text; plays nothing
};

struct Movie {
  Kind kind = Kind::kStill;
  // Where nothing else is drawn; no value lets the host window show through.
  std::optional<QColor> background;
  // Shown centred by a still movie.
  QString text;
  // For the still movie's text and for messages shown over the movie; in a
  // player movie also for its controls and indicators.
  QColor textColor = Qt::black;
  // Player movies: whether the on-screen controls are shown, and the colour
  // of the played part of the seek bar and of the volume.
  bool controls = true;
  QColor accentColor = QColor(0x3d, 0x9b, 0xff);
};

struct Result {
  std::optional<Movie> movie;
  QString error;  // why there is no movie, in words for the player area
};

// A movie is a few hundred bytes; anything far larger is not one of ours, and
// the cap keeps a wrong path from pulling a whole video into memory.
inline constexpr qint64 kMaxFileBytes = 64 * 1024;

Result Parse(const QByteArray& data);

// Reads and parses the file at `path`. Blocks on file I/O, so the player runs
// it off the GUI thread.
Result ReadFile(const QString& path);

}  // namespace movie
