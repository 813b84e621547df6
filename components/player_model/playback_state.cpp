#include "player_model/playback_state.h"

#include <utility>

namespace {

// Stores `value` and reports whether it changed.
template <typename T>
bool Update(T& field, const T& value) {
  if (field == value) return false;
  field = value;
  return true;
}

}  // namespace

void PlaybackState::SetLoadState(LoadState state) {
  if (Update(loadState_, state)) emit loadStateChanged(state);
}
void PlaybackState::SetMessage(const QString& message) {
  if (Update(message_, message)) emit messageChanged(message);
}
void PlaybackState::SetProgress(const QString& progress) {
  if (Update(progress_, progress)) emit progressChanged(progress);
}
void PlaybackState::SetTitle(const QString& title, const QString& url) {
  const bool changed = Update(title_, title);
  if (Update(url_, url) || changed) emit titleChanged();
}
void PlaybackState::SetHasFile(bool open) {
  if (Update(hasFile_, open)) emit hasFileChanged(open);
}
void PlaybackState::SetPosition(double seconds) {
  if (Update(position_, seconds)) emit positionChanged(seconds);
}
void PlaybackState::SetDuration(double seconds) {
  if (Update(duration_, seconds)) emit durationChanged(seconds);
}
void PlaybackState::SetPaused(bool paused) {
  if (Update(paused_, paused)) emit pausedChanged(paused);
}
void PlaybackState::SetEndReached(bool reached) {
  if (Update(endReached_, reached)) emit endReachedChanged(reached);
}
void PlaybackState::SetVolume(double percent) {
  if (Update(volume_, percent)) emit volumeChanged(percent);
}
void PlaybackState::SetMuted(bool muted) {
  if (Update(muted_, muted)) emit mutedChanged(muted);
}
void PlaybackState::SetBuffering(bool buffering, int percent) {
  const bool changed = Update(buffering_, buffering);
  if (Update(bufferingPercent_, percent) || changed) emit bufferingChanged(buffering, percent);
}
void PlaybackState::SetBufferedRanges(const stream_facts::Ranges& ranges) {
  if (Update(bufferedRanges_, ranges)) emit bufferedRangesChanged();
}
void PlaybackState::SetAudioOnly(bool audioOnly) {
  if (Update(audioOnly_, audioOnly)) emit audioOnlyChanged(audioOnly);
}
void PlaybackState::SetDecodeProblem(const QString& problem) {
  if (Update(decodeProblem_, problem)) emit decodeProblemChanged(problem);
}
void PlaybackState::SetVideoSize(QSize size) {
  if (Update(videoSize_, size)) emit videoSizeChanged(size);
}
void PlaybackState::SetLive(bool live) {
  if (Update(live_, live)) emit liveChanged(live);
}
void PlaybackState::SetFileReport(const QString& report) {
  if (Update(fileReport_, report)) emit fileReportChanged(report);
}
void PlaybackState::SetCaption(const QString& text) {
  if (Update(caption_, text)) emit captionChanged(text);
}
void PlaybackState::SetCuePoints(const stream_facts::CuePoints& cuePoints) {
  if (Update(cuePoints_, cuePoints)) emit cuePointsChanged();
}
void PlaybackState::SetSpeed(double factor) {
  if (Update(speed_, factor)) emit speedChanged(factor);
}
