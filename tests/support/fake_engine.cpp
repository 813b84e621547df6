#include "support/fake_engine.h"

#include <QPainter>
#include <algorithm>

using engine::Property;

FakeEngine::~FakeEngine() {
  if (onDestroyed_) onDestroyed_(this);
}

void FakeEngine::Send(Property property, const engine::Value& value) {
  if (listener_) listener_->OnProperty(property, value);
}

void FakeEngine::OpenFile(qint64 entry, QSize size, double duration) {
  ReplyToLoad(entry);
  StartFile(entry);
  Send(Property::kNoFile, false);
  Send(Property::kFileFormat, QStringLiteral("live_flv"));
  Send(Property::kDuration, duration);
  Send(Property::kPaused, false);
  if (!size.isEmpty()) {
    Send(Property::kDisplayWidth, qint64{size.width()});
    Send(Property::kDisplayHeight, qint64{size.height()});
    Send(Property::kPictureOut, true);
    stream_facts::Tracks tracks;
    tracks.video = {true, true, QStringLiteral("flv1, %1x%2").arg(size.width()).arg(size.height())};
    Send(Property::kTracks, tracks);
  }
  FileLoaded();
}

void FakeEngine::ReplyToLoad(qint64 entry, const QString& error) {
  if (listener_) listener_->OnLoadReply(lastLoadToken, entry, error);
}
void FakeEngine::StartFile(qint64 entry) {
  if (listener_) listener_->OnFileStarted(entry);
}
void FakeEngine::FileLoaded() {
  if (listener_) listener_->OnFileLoaded();
}
void FakeEngine::EndFile(qint64 entry, engine::EndReason reason, const QString& error) {
  if (listener_) listener_->OnFileEnded({entry, reason, error, 0});
}
void FakeEngine::Log(const QByteArray& part, const QString& text, bool error) {
  if (listener_) listener_->OnLog({part, text, error});
}
void FakeEngine::Answer(engine::Query query, const engine::Value& value) {
  if (listener_) listener_->OnAnswer(lastAskToken, query, value);
}
void FakeEngine::SeekDone() {
  if (!listener_) return;
  listener_->OnSeekStarted();
  listener_->OnPlaybackRestarted();
}

void FakeEngine::SendPicture(const QImage& picture) {
  if (listener_) listener_->OnPicture(lastPictureToken, picture);
}

void FakeEngine::OfferFrame(Waiting kind) {
  waiting = kind;
  if (listener_) listener_->OnFrameReady();
}

quint64 FakeEngine::Load(const engine::LoadRequest& request) {
  loads.push_back(request);
  connections.push_back(request.http);
  loads.back().http.reset();
  QString what;
  switch (request.source) {
    case engine::LoadRequest::Source::kLocalFile:
      what = request.format == engine::LoadRequest::Format::kMp4 ? QStringLiteral("local mp4")
                                                                 : QStringLiteral("local flv");
      break;
    case engine::LoadRequest::Source::kHttp:
      what = QStringLiteral("http ") + request.url +
             (request.http ? QStringLiteral(" (connection)") : QString());
      break;
    case engine::LoadRequest::Source::kRtmp:
      what = QStringLiteral("rtmp ") + request.url;
      break;
  }
  calls << QStringLiteral("load ") + what;
  lastLoadToken = ++tokens_;
  return lastLoadToken;
}

void FakeEngine::SetPaused(bool paused) {
  calls << (paused ? QStringLiteral("pause yes") : QStringLiteral("pause no"));
}
void FakeEngine::SeekTo(double seconds) {
  calls << QStringLiteral("seek %1 absolute").arg(seconds);
}
void FakeEngine::SetSeekLead(double seconds) {
  calls << QStringLiteral("seek lead %1").arg(seconds);
}
void FakeEngine::SeekBy(double seconds) {
  calls << QStringLiteral("seek %1 relative").arg(seconds);
}
void FakeEngine::SeekToKeyframe(double seconds) {
  calls << QStringLiteral("seek %1 keyframe").arg(seconds);
}
void FakeEngine::StepFrame(bool forward) {
  calls << (forward ? QStringLiteral("step forward") : QStringLiteral("step back"));
}
void FakeEngine::SetSpeed(double factor) { calls << QStringLiteral("speed %1").arg(factor); }
void FakeEngine::SetVolume(double percent) { calls << QStringLiteral("volume %1").arg(percent); }
void FakeEngine::SetMuted(bool muted) {
  calls << (muted ? QStringLiteral("mute yes") : QStringLiteral("mute no"));
}
void FakeEngine::SetAudioOutput(const QByteArray& driver) {
  calls << QStringLiteral("ao ") + QString::fromUtf8(driver);
}
void FakeEngine::SetFlattenAlpha(bool on) {
  calls << (on ? QStringLiteral("flatten alpha") : QStringLiteral("keep alpha"));
}
void FakeEngine::WatchCache(bool on) {
  calls << (on ? QStringLiteral("watch cache") : QStringLiteral("unwatch cache"));
}

void FakeEngine::SetDetailedLog(bool on) {
  calls << (on ? QStringLiteral("detailed log") : QStringLiteral("errors only"));
}

quint64 FakeEngine::Ask(engine::Query query) {
  calls << (query == engine::Query::kPosition ? QStringLiteral("ask position")
                                              : QStringLiteral("ask sample rate"));
  lastAskToken = ++tokens_;
  return lastAskToken;
}

quint64 FakeEngine::GrabPicture() {
  calls << QStringLiteral("grab picture");
  lastPictureToken = ++tokens_;
  return lastPictureToken;
}

bool FakeEngine::RenderFrame(QSize size, qreal devicePixelRatio) {
  // The frame scaled into the size asked for, the way the real renderer
  // draws the picture into the player area.
  picture_ = (frame.isNull() ? QImage(size, QImage::Format_RGB32) : frame)
                 .scaled(size)
                 .convertToFormat(QImage::Format_RGB32);
  if (frame.isNull()) picture_.fill(Qt::darkGreen);
  picture_.setDevicePixelRatio(devicePixelRatio);
  waiting = Waiting::kNothing;
  ++framesTaken;
  return true;
}

void FakeEngine::SkipFrame() {
  waiting = Waiting::kNothing;
  ++framesTaken;
}

engine::Factory FakeEngines::Factory() {
  return
      [this](const engine::Settings& settings, QString* error) -> std::unique_ptr<engine::Engine> {
        if (!refuse.isEmpty()) {
          *error = refuse;
          return nullptr;
        }
        auto engine = std::make_unique<FakeEngine>();
        engine->settings = settings;
        engine->onDestroyed_ = [registry = std::weak_ptr(live),
                                letGone = std::weak_ptr(abandoned)](FakeEngine* gone) {
          if (const auto engines = registry.lock()) std::erase(*engines, gone);
          if (const auto engines = letGone.lock(); engines && gone->letGo) {
            engines->push_back(gone);
          }
        };
        made.push_back(engine.get());
        live->push_back(engine.get());
        return engine;
      };
}

bool FakeEngines::IsLive(const FakeEngine* engine) const {
  return std::find(live->begin(), live->end(), engine) != live->end();
}

bool FakeEngines::WasAbandoned(const FakeEngine* engine) const {
  return std::find(abandoned->begin(), abandoned->end(), engine) != abandoned->end();
}

FakeEngine* FakeEngines::Live(engine::Settings::Purpose purpose) const {
  for (FakeEngine* engine : *live) {
    if (engine->settings.purpose == purpose) return engine;
  }
  return nullptr;
}
