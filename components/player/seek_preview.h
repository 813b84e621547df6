#pragma once

#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "engine/engine.h"
#include "player_model/playback_state.h"
#include "player_model/preview_source.h"

// The seek bar's previews, from an engine of their own: the factory's
// preview engine (engine::Settings::Purpose::kPreview), made at the first
// request for a file and dropped with that file. It opens what the player's
// engine was given (a local file through the player's own descriptor, never
// by name; a network address itself, used only when the server can seek),
// and for each request seeks to the keyframe at or before the moment and
// takes the picture there.
class SeekPreview : public PreviewSource, private engine::Listener {
  Q_OBJECT

 public:
  // What the player's engine plays now; none while nothing is open.
  using FileInHand = std::function<std::optional<engine::LoadRequest>()>;

  // How long opening the file or one picture may take before the engine
  // counts as stuck: it is dropped, and the file gets no more previews.
  static constexpr int kTimeoutMs = 12000;

  SeekPreview(const PlaybackState& state, FileInHand file, engine::Factory factory,
              QObject* parent = nullptr);
  ~SeekPreview() override;

  void SetTimeout(int ms) { timeout_.setInterval(ms); }
  // Turns a moment on the player's clock into the engine's; the same for
  // both engines, as they open the same file alike. None: the same clock.
  void SetClock(std::function<double(double)> toEngine) { toEngine_ = std::move(toEngine); }

  bool Available() const override;
  void Request(double seconds) override;
  void Cancel() override;

  // Whether the preview engine exists now.
  bool HasEngine() const { return engine_ != nullptr; }

 private:
  void Start();
  void Next();
  void Drop();
  void GiveUp();

  // engine::Listener
  void OnProperty(engine::Property property, const engine::Value& value) override;
  void OnFileStarted(qint64) override {}
  void OnFileLoaded() override;
  void OnFileEnded(const engine::FileEnd& end) override;
  void OnLog(const engine::LogLine&) override {}
  void OnSeekStarted() override;
  void OnPlaybackRestarted() override;
  void OnLoadReply(quint64, qint64, const QString& error) override;
  void OnAnswer(quint64, engine::Query, const engine::Value&) override {}
  void OnFrameReady() override {}
  void OnPicture(quint64 token, const QImage& picture) override;

  const PlaybackState& state_;
  const FileInHand file_;
  const engine::Factory factory_;
  std::unique_ptr<engine::Engine> engine_;
  // The file in hand cannot give previews (or its engine got stuck).
  bool unavailable_ = false;
  bool opened_ = false;
  std::optional<bool> seekable_;

  // One picture at a time: seek, then take it once playback restarts there.
  enum class Step { kIdle, kSeeking, kSought, kTaking };
  Step step_ = Step::kIdle;
  double asked_ = 0;
  std::optional<double> wanted_;
  quint64 pictureToken_ = 0;
  QTimer timeout_;
  std::function<double(double)> toEngine_;
};
