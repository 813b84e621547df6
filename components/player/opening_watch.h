#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "engine/engine.h"
#include "player/opening_progress.h"
#include "player_model/playback_state.h"

// While a network address opens: how long it has taken, and how far it has
// got, told in the state's progress once the wait is worth telling. The
// engine says how far it has got only in its detailed log, which is chatty:
// it is asked for while an address opens and turned down a while after
// (doing it at once would drop lines the engine still holds, a failure's
// cause among them).
class OpeningWatch : public QObject {
  Q_OBJECT

 public:
  explicit OpeningWatch(PlaybackState& state, QObject* parent = nullptr);

  // A new engine starts with errors only.
  void SetEngine(engine::Engine* engine);
  // How long an open goes on before the player says what it waits for.
  void SetProgressAfterMs(int ms);

  // A network address goes to the engine; `host` is named in the progress.
  void StartNetwork(const QString& host);
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
  QElapsedTimer elapsed_;
  QTimer tellTimer_;
  QTimer quietTimer_;
  int progressAfterMs_ = 1000;
  bool detailedLog_ = false;
};
