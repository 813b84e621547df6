#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <utility>

#include "engine/engine.h"
#include "player/opening_progress.h"
#include "player_model/playback_state.h"

// While a network address opens: how long it has taken, and how far it has
// got, told in the state's progress once the wait is worth telling. For
// http(s) the player's own connection counts the media bytes that came; the
// engine's own protocol (rtmp) says how far it has got only in its detailed
// log, which is chatty: it is asked for while such an address opens and
// turned down a while after (doing it at once would drop lines the engine
// still holds, a failure's cause among them).
class OpeningWatch : public QObject {
  Q_OBJECT

 public:
  explicit OpeningWatch(PlaybackState& state, QObject* parent = nullptr);

  // A new engine starts with errors only.
  void SetEngine(engine::Engine* engine);
  // How long an open goes on before the player says what it waits for.
  void SetProgressAfterMs(int ms);

  // A network address opens; `host` is named in the progress. `counted`,
  // when given, says the media bytes received and the size (-1 unknown);
  // without it the engine's log is read.
  using Counted = std::function<std::pair<qint64, qint64>()>;
  void StartNetwork(const QString& host, Counted counted = {});
  // A local file goes to the engine: there is no wait to tell.
  void StartLocal();
  // Opened, failed or stopped.
  void Stop();
  // A detail line of the engine's log, while an address opens.
  void Note(const engine::LogLine& line);

  // How long the network open in hand went on; negative for a local file.
  qint64 NetworkWaitMs() const { return elapsed_.isValid() ? elapsed_.elapsed() : -1; }

 private:
  void Show();
  void SetDetailedLog(bool on);

  PlaybackState& state_;
  engine::Engine* engine_ = nullptr;
  OpeningProgress progress_;
  Counted counted_;
  QElapsedTimer elapsed_;
  QTimer tellTimer_;
  QTimer quietTimer_;
  int progressAfterMs_ = 1000;
  bool detailedLog_ = false;
};
