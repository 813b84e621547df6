#include "player/mpv_player.h"

#include <QClipboard>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHash>
#include <QMouseEvent>
#include <QPainter>
#include <QTextOption>
#include <algorithm>
#include <cmath>
#include <optional>

#include "base/off_thread.h"
#include "engine/mpv_core.h"
#include "interfaces/twips.h"
#include "media/movie.h"
#include "player/picture_layout.h"
#include "player/player_probe.h"
#include "player/seek_preview.h"
#include "player/session.h"
#include "player_ui/player_overlay.h"

namespace {

// Pixels in the player area for a size in twips. Never fails: negative and
// NaN sizes give an empty area, absurd ones the largest a widget can have.
int TwipsToPixels(float value, const QWidget* widget) {
  if (std::isnan(value) || value <= 0) return 0;
  const double pixels = std::round(value / twips::PerPixel(widget->logicalDpiX()));
  return static_cast<int>(std::min(pixels, double{QWIDGETSIZE_MAX}));
}

}  // namespace

struct MpvPlayer::Impl : Session::Host {
  Impl(MpvPlayer* owner, engine::Factory factory)
      : q(owner),
        engineFactory(factory ? std::move(factory) : engine::Factory(&engine::StartMpv)),
        session(state, *this),
        preview(
            state, [this] { return session.FileInHand(); }, engineFactory) {
    preview.SetClock([this](double seconds) { return session.ToEngineClock(seconds); });
  }

  MpvPlayer* const q;
  const engine::Factory engineFactory;
  PlaybackState state;
  Session session;
  // The seek bar's pictures, from an engine of their own made on first use.
  SeekPreview preview;
  std::unique_ptr<engine::Engine> engine;
  float widthTwips = 0;
  float heightTwips = 0;
  QByteArray audioOutput;

  // The movie in layer 0, and its root variables.
  QFutureWatcher<movie::Result>* movieRead = nullptr;
  std::optional<movie::Movie> movie;
  QHash<QString, QString> variables;

  // Controls and indicators over the picture; a child of the widget.
  PlayerOverlay* overlay = nullptr;

  // The picture and where it sits, in device pixels.
  QRect frameRect;
  bool pictureShown = false;
  int framesRendered = 0;

  bool PlayerMovie() const { return movie && movie->kind == movie::Kind::kPlayer; }

  void LoadMovie(const QString& path) {
    session.PrepareEarly({});
    session.SetPlayable(false);
    movie.reset();
    UpdateOpaqueness();
    overlay->SetMovie(nullptr);
    variables.clear();
    state.SetMessage({});
    session.Halt();

    // The watcher belongs to the widget, so a read that finishes after the
    // widget is gone (or after a newer LoadMovie) reaches nobody.
    if (movieRead) {
      movieRead->disconnect();
      movieRead->deleteLater();
    }
    movieRead = new QFutureWatcher<movie::Result>(q);
    QObject::connect(movieRead, &QFutureWatcherBase::finished, q, [this, path] {
      movie::Result result{std::nullopt, QStringLiteral("it could not be read")};
      try {
        result = movieRead->result();
      } catch (...) {
      }
      movieRead->deleteLater();
      movieRead = nullptr;
      ActivateMovie(path, result);
    });
    movieRead->setFuture(off_thread::Run([path] { return movie::ReadFile(path); }));
  }

  void ActivateMovie(const QString& path, const movie::Result& result) {
    if (!result.movie) {
      state.SetMessage(QStringLiteral("Cannot load movie \"%1\": %2.").arg(path, result.error));
    } else {
      movie = result.movie;
      // Only the player movie plays; a still movie has stopped playback for good.
      session.SetPlayable(PlayerMovie());
      if (PlayerMovie()) {
        QString error;
        if (!EnsureEngine(&error)) {
          state.SetMessage(QStringLiteral("Cannot play videos: %1.").arg(error));
        } else if (const auto uri = variables.constFind(QStringLiteral("myuri"));
                   uri != variables.constEnd()) {
          session.PlayAddress(*uri);
        }
      }
    }
    UpdateOpaqueness();
    q->update();
    overlay->SetMovie(movie ? &*movie : nullptr);
    emit q->movieLoaded();
  }

  // A movie with a background paints every pixel of the area, so the host
  // window need not paint underneath first, for every video frame.
  void UpdateOpaqueness() {
    q->setAttribute(Qt::WA_OpaquePaintEvent, movie && movie->background.has_value());
  }

  engine::Settings Settings() const {
    engine::Settings settings{audioOutput, state.volume(), state.muted()};
    settings.speed = state.speed();
    return settings;
  }

  bool EnsureEngine(QString* error) {
    if (engine) return true;
    engine = engineFactory(Settings(), error);
    if (!engine) return false;
    session.SetEngine(engine.get());
    return true;
  }

  // Session::Host
  void ReplaceEngine() override {
    session.SetEngine(nullptr);
    HidePicture();
    engine::Abandon(std::move(engine));
    QString error;
    if (!EnsureEngine(&error)) {
      state.SetMessage(QStringLiteral("Cannot play videos: %1.").arg(error));
    }
  }

  void HidePicture() override {
    if (!pictureShown) return;
    pictureShown = false;
    q->update();
  }

  // In device pixels.
  QRect PictureRect() const {
    return picture_layout::ShowAll(state.videoSize(), QSizeF(q->size()) * q->devicePixelRatioF());
  }

  void RenderFrame(bool force) override {
    if (!engine) return;
    const engine::Engine::Waiting waiting = engine->PollFrame();
    const bool newFrame = waiting != engine::Engine::Waiting::kNothing;
    switch (session.AdmitFrame(waiting, force)) {
      case FrameGate::Verdict::kNothing:
        return;
      case FrameGate::Verdict::kSkip:
        engine->SkipFrame();
        return;
      case FrameGate::Verdict::kSkipAndHide:
        engine->SkipFrame();
        HidePicture();
        return;
      case FrameGate::Verdict::kHide:
        HidePicture();
        return;
      case FrameGate::Verdict::kRender:
        break;
    }
    const QRect target = PictureRect();
    if (target.isEmpty()) {
      if (newFrame) engine->SkipFrame();
      HidePicture();
      return;
    }
    if (!engine->RenderFrame(target.size(), q->devicePixelRatioF())) {
      HidePicture();
      return;
    }
    frameRect = target;
    pictureShown = true;
    ++framesRendered;
    q->update();
    emit q->frameRendered();
  }

  void Paint(QPainter& painter, const QRect& dirty) {
    const qreal dpr = q->devicePixelRatioF();
    // Only a player movie shows video: a late frame from before a new movie
    // was loaded must not appear over it.
    const bool showPicture = pictureShown && PlayerMovie() && engine;
    const QRectF picture =
        showPicture ? QRectF(QPointF(frameRect.topLeft()) / dpr, QSizeF(frameRect.size()) / dpr)
                    : QRectF();
    if (movie && movie->background) {
      for (const QRect& r : QRegion(dirty).subtracted(picture.toAlignedRect())) {
        painter.fillRect(r, *movie->background);
      }
    }
    if (!picture.isEmpty()) painter.drawImage(picture.topLeft(), engine->Picture());
    // A still movie's words, unless a message takes their place: the
    // overlay says that, with everything else drawn over the picture.
    if (movie && movie->kind == movie::Kind::kStill && state.message().isEmpty() &&
        !movie->text.isEmpty()) {
      QTextOption option(Qt::AlignCenter);
      option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
      painter.setPen(movie->textColor);
      // QPainter::drawText takes the string as plain text, never as markup.
      painter.drawText(QRectF(q->rect()).adjusted(8, 8, -8, -8), movie->text, option);
    }
    overlay->Paint(painter);
  }
};

MpvPlayer::MpvPlayer(QWidget* parent, engine::Factory engineFactory)
    : QWidget(parent), d_(std::make_unique<Impl>(this, std::move(engineFactory))) {
  // Transparent window mode: whatever the movie leaves unpainted shows the
  // host window, so the widget fills no background of its own.
  setAutoFillBackground(false);
  d_->overlay = new PlayerOverlay(*this, d_->state, d_->session);
  d_->overlay->SetPreviewSource(&d_->preview);
  // The clipboard holds the picture itself: no file is written.
  connect(&d_->session, &Session::pictureTaken, this, [this](const QImage& picture) {
    QGuiApplication::clipboard()->setImage(picture);
    d_->state.AnnouncePictureCopied(picture.size());
  });
  connect(&d_->session, &Session::openRequested, this, &MpvPlayer::openRequested);
  connect(&d_->state, &PlaybackState::messageChanged, this, [this] { update(); });
  connect(&d_->state, &PlaybackState::audioOnlyChanged, this, [this] { update(); });
}

MpvPlayer::~MpvPlayer() {
  delete d_->overlay;
  d_->session.SetEngine(nullptr);
  d_->engine.reset();
}

void MpvPlayer::SetWidth(float twips) {
  d_->widthTwips = twips;
  resize(TwipsToPixels(twips, this), height());
}

void MpvPlayer::SetHeight(float twips) {
  d_->heightTwips = twips;
  resize(width(), TwipsToPixels(twips, this));
}

void MpvPlayer::LoadMovie(int layer, const QString& path) {
  // Only the base level is shown; other levels have nothing to show on.
  if (layer != 0) return;
  d_->LoadMovie(path);
}

void MpvPlayer::SetVariable(const QString& name, const QString& value) {
  d_->variables.insert(name, value);
  if (name != QLatin1String("myuri")) return;
  if (d_->PlayerMovie() && d_->engine) {
    d_->session.PlayAddress(value);
  } else if (d_->movieRead) {
    d_->session.PrepareEarly(value);
  }
}

float MpvPlayer::Width() const { return d_->widthTwips; }
float MpvPlayer::Height() const { return d_->heightTwips; }
const PlaybackState& MpvPlayer::State() const { return d_->state; }

void MpvPlayer::SetAudioOutput(const QString& driver) {
  d_->audioOutput = driver.toUtf8();
  if (d_->engine) d_->engine->SetAudioOutput(d_->audioOutput);
}

bool MpvPlayer::HasEngine() const { return d_->engine != nullptr; }

PlayerCommands& MpvPlayer::Commands() { return d_->session; }

void MpvPlayer::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  d_->Paint(painter, event->rect());
}

void MpvPlayer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A paused or finished video gets no new frames: redraw the one shown.
  if (d_->pictureShown) d_->RenderFrame(true);
}

void MpvPlayer::mousePressEvent(QMouseEvent* event) { event->accept(); }
void MpvPlayer::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }
void MpvPlayer::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
void MpvPlayer::contextMenuEvent(QContextMenuEvent* event) { event->accept(); }

int PlayerProbe::FramesRendered(const MpvPlayer& player) { return player.d_->framesRendered; }
int PlayerProbe::LoadRequests(const MpvPlayer& player) { return player.d_->session.LoadRequests(); }
QString PlayerProbe::LastLoadedTarget(const MpvPlayer& player) {
  return player.d_->session.LastTarget();
}
QString PlayerProbe::EngineProperty(const MpvPlayer& player, const char* name) {
  return player.d_->engine ? player.d_->engine->Inspect(name) : QString();
}
PlayerOverlay& PlayerProbe::Overlay(const MpvPlayer& player) { return *player.d_->overlay; }
SeekPreview& PlayerProbe::Preview(const MpvPlayer& player) { return player.d_->preview; }
