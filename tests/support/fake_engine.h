#pragma once

#include <QImage>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "engine/engine.h"

// An engine that plays nothing: it writes down what it is asked, and the
// test plays the engine's part by sending the events a real one would.
class FakeEngine : public engine::Engine {
 public:
  ~FakeEngine() override;

  // Every request, in order, in words: "load tibrok live_flv", "stop",
  // "pause yes", "seek 5 absolute", "seek 5 keyframe", "step back",
  // "speed 1.5", "volume 40", "ask position", "grab picture", ...
  QStringList calls;
  // What it was started with.
  engine::Settings settings;
  // Every load; an http connection handed over is not kept here, as the
  // real engine lets go of it when it moves on (connections below).
  std::vector<engine::LoadRequest> loads;
  std::vector<std::weak_ptr<net::HttpFile>> connections;
  quint64 lastLoadToken = 0;
  quint64 lastAskToken = 0;
  quint64 lastPictureToken = 0;
  bool letGo = false;
  // The frame it hands over, and what waits.
  QImage frame;
  Waiting waiting = Waiting::kNothing;
  int framesTaken = 0;

  // --- what a real engine would send
  void Send(engine::Property property, const engine::Value& value);
  // The usual course of a load that works: the reply naming `entry`, the
  // start, a picture of `size` (none if empty), the open file.
  void OpenFile(qint64 entry, QSize size = {320, 240}, double duration = 10);
  void ReplyToLoad(qint64 entry, const QString& error = {});
  void StartFile(qint64 entry);
  void FileLoaded();
  void EndFile(qint64 entry, engine::EndReason reason, const QString& error = {});
  void Log(const QByteArray& part, const QString& text, bool error = true);
  void Answer(engine::Query query, const engine::Value& value);
  void SeekDone();
  // The reply to the last GrabPicture.
  void SendPicture(const QImage& picture);
  // Offers a frame (a new one, or a redraw of the one held).
  void OfferFrame(Waiting kind = Waiting::kNewFrame);
  engine::Listener* listener() const { return listener_; }

  // engine::Engine
  void SetListener(engine::Listener* listener) override { listener_ = listener; }
  quint64 Load(const engine::LoadRequest& request) override;
  void Stop() override { calls << QStringLiteral("stop"); }
  void SetPaused(bool paused) override;
  void SeekTo(double seconds) override;
  void SeekBy(double seconds) override;
  void SetSeekLead(double seconds) override;
  void SeekToKeyframe(double seconds) override;
  void StepFrame(bool forward) override;
  void SetSpeed(double factor) override;
  void SetVolume(double percent) override;
  void SetMuted(bool muted) override;
  void SetAudioOutput(const QByteArray& driver) override;
  void SetFlattenAlpha(bool on) override;
  void WatchCache(bool on) override;
  void SetDetailedLog(bool on) override;
  quint64 Ask(engine::Query query) override;
  quint64 GrabPicture() override;
  Waiting PollFrame() override { return waiting; }
  bool RenderFrame(QSize size, qreal devicePixelRatio) override;
  void SkipFrame() override;
  const QImage& Picture() const override { return picture_; }
  QString Inspect(const char*) const override { return {}; }

 protected:
  void LetGo() override { letGo = true; }

 private:
  engine::Listener* listener_ = nullptr;
  quint64 tokens_ = 0;
  QImage picture_;
  friend struct FakeEngines;
  std::function<void(FakeEngine*)> onDestroyed_;
};

// A factory that makes fake engines and lets the test reach each one made;
// `refuse` makes the start fail with that error instead. Engines deleted by
// their owner are left out of `live`, and those let go first (engine::Abandon)
// are named in `abandoned`: compare with them, never read them.
struct FakeEngines {
  std::vector<FakeEngine*> made;
  // Shared with the engines, which may outlive this object.
  std::shared_ptr<std::vector<FakeEngine*>> live = std::make_shared<std::vector<FakeEngine*>>();
  std::shared_ptr<std::vector<const FakeEngine*>> abandoned =
      std::make_shared<std::vector<const FakeEngine*>>();
  QString refuse;
  engine::Factory Factory();
  FakeEngine* last() const { return made.empty() ? nullptr : made.back(); }
  bool IsLive(const FakeEngine* engine) const;
  bool WasAbandoned(const FakeEngine* engine) const;
  // The live engine made for `purpose`; null when there is none.
  FakeEngine* Live(engine::Settings::Purpose purpose) const;
};
