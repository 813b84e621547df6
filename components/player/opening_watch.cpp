#include "player/opening_watch.h"

#include <QUrl>
#include <algorithm>

OpeningWatch::OpeningWatch(PlaybackState& state, QObject* parent) : QObject(parent), state_(state) {
  tellTimer_.setInterval(250);
  connect(&tellTimer_, &QTimer::timeout, this, &OpeningWatch::Show);
  quietTimer_.setSingleShot(true);
  quietTimer_.setInterval(1000);
  connect(&quietTimer_, &QTimer::timeout, this, [this] { SetDetailedLog(false); });
}

void OpeningWatch::SetEngine(engine::Engine* engine) {
  engine_ = engine;
  detailedLog_ = false;
  quietTimer_.stop();
  if (engine_ && tellTimer_.isActive()) SetDetailedLog(true);
}

void OpeningWatch::SetProgressAfterMs(int ms) {
  progressAfterMs_ = ms;
  tellTimer_.setInterval(std::max(ms / 4, 1));
}

void OpeningWatch::StartNetwork(const QString& host) {
  elapsed_.start();
  quietTimer_.stop();
  progress_.Start(host);
  tellTimer_.start();
  SetDetailedLog(true);
}

void OpeningWatch::StartLocal() {
  elapsed_.invalidate();
  Stop();
}

void OpeningWatch::Stop() {
  tellTimer_.stop();
  state_.SetProgress({});
  if (detailedLog_) quietTimer_.start();
}

void OpeningWatch::Note(const engine::LogLine& line) {
  if (tellTimer_.isActive()) progress_.Note(line);
}

void OpeningWatch::Show() {
  // A quick open shows nothing: only a wait worth telling is told.
  if (!elapsed_.isValid() || elapsed_.elapsed() < progressAfterMs_) return;
  state_.SetProgress(progress_.Text(elapsed_.elapsed()));
}

void OpeningWatch::SetDetailedLog(bool on) {
  if (on == detailedLog_ || !engine_) {
    if (!engine_) detailedLog_ = false;
    return;
  }
  engine_->SetDetailedLog(on);
  detailedLog_ = on;
}
