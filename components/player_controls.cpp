#include "player_controls.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QToolButton>
#include <cmath>

#include "mpv_player.h"
#include "player_icons.h"
#include "seek_bar.h"

using player_icons::Glyph;

QString FormatPlaybackTime(double seconds, bool withHours) {
  const qint64 whole = std::isfinite(seconds) && seconds > 0 ? qint64(seconds) : 0;
  const QString ss = QStringLiteral("%1").arg(whole % 60, 2, 10, QLatin1Char('0'));
  if (!withHours) return QStringLiteral("%1:%2").arg(whole / 60).arg(ss);
  return QStringLiteral("%1:%2:%3")
      .arg(whole / 3600)
      .arg((whole / 60) % 60, 2, 10, QLatin1Char('0'))
      .arg(ss);
}

QString PlaybackTimeText(double position, double duration) {
  const bool known = std::isfinite(duration) && duration > 0;
  // A live stream can run past an hour: the elapsed time grows its field.
  const bool hours = (known ? duration : position) >= 3600;
  return FormatPlaybackTime(position, hours) + QStringLiteral(" / ") +
         (known ? FormatPlaybackTime(duration, hours) : QStringLiteral("--:--"));
}

namespace {

QToolButton* MakeButton(QWidget* parent, const QString& name) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setFocusPolicy(Qt::NoFocus);
  button->setAutoRaise(true);
  button->setIconSize(QSize(20, 20));
  return button;
}

}  // namespace

PlayerControls::PlayerControls(MpvPlayer& player, QWidget* parent)
    : QWidget(parent), player_(player) {
  setObjectName(QStringLiteral("controls"));
  setAccessibleName(tr("Playback controls"));

  playPause_ = MakeButton(this, QStringLiteral("playPause"));
  connect(playPause_, &QToolButton::clicked, &player_, &MpvPlayer::TogglePause);

  seek_ = new SeekBar(this);
  seek_->setObjectName(QStringLiteral("seekBar"));
  connect(seek_, &SeekBar::seekRequested, &player_, &MpvPlayer::SeekTo);

  time_ = new QLabel(this);
  time_->setObjectName(QStringLiteral("time"));
  time_->setToolTip(tr("Elapsed time / duration"));
  time_->setAccessibleName(tr("Elapsed time and duration"));

  mute_ = MakeButton(this, QStringLiteral("mute"));
  mute_->setCheckable(true);
  mute_->setToolTip(tr("Mute (M)"));
  mute_->setAccessibleName(tr("Mute"));
  connect(mute_, &QToolButton::clicked, &player_, &MpvPlayer::SetMuted);

  volume_ = new QSlider(Qt::Horizontal, this);
  volume_->setObjectName(QStringLiteral("volume"));
  volume_->setFocusPolicy(Qt::NoFocus);
  volume_->setRange(0, 100);
  volume_->setSingleStep(5);
  volume_->setPageStep(10);
  volume_->setFixedWidth(64);
  volume_->setToolTip(tr("Volume (Up and Down arrows, mouse wheel)"));
  volume_->setAccessibleName(tr("Volume"));
  volume_->installEventFilter(this);
  connect(volume_, &QSlider::valueChanged, &player_, [this](int value) {
    // Only the user's moves: the player's own reports set the slider with
    // signals blocked.
    player_.SetVolume(value);
  });

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 2, 8, 2);
  layout->setSpacing(4);
  layout->addWidget(playPause_);
  layout->addWidget(seek_, 1);
  layout->addWidget(time_);
  layout->addWidget(mute_);
  layout->addWidget(volume_);

  // Every report is cheap to ignore while hidden; showEvent catches up.
  connect(&player_, &MpvPlayer::pausedChanged, this, [this] { ShowPlayState(); });
  connect(&player_, &MpvPlayer::endReachedChanged, this, [this] { ShowPlayState(); });
  connect(&player_, &MpvPlayer::hasFileChanged, this, [this] { Sync(); });
  connect(&player_, &MpvPlayer::positionChanged, this, [this] { ShowTime(); });
  connect(&player_, &MpvPlayer::durationChanged, this, [this] { ShowTime(); });
  connect(&player_, &MpvPlayer::volumeChanged, this, [this] { ShowVolume(); });
  connect(&player_, &MpvPlayer::mutedChanged, this, [this] { ShowVolume(); });
  connect(&player_, &MpvPlayer::bufferedRangesChanged, this, [this] { ShowBuffered(); });

  SetColours(Qt::black, Qt::white, Qt::white);
}

void PlayerControls::SetColours(const QColor& band, const QColor& text, const QColor& accent) {
  band_ = band;
  playIcon_ = player_icons::Icon(Glyph::kPlay, text);
  pauseIcon_ = player_icons::Icon(Glyph::kPause, text);
  volumeIcon_ = player_icons::Icon(Glyph::kVolume, text);
  mutedIcon_ = player_icons::Icon(Glyph::kMuted, text);

  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, text);
  colours.setColor(QPalette::ButtonText, text);
  colours.setColor(QPalette::Highlight, accent);
  setPalette(colours);
  QColor track = text;
  track.setAlphaF(0.3f);
  seek_->SetColours(track, accent);
  Sync();
  update();
}

void PlayerControls::Sync() {
  ShowPlayState();
  ShowTime();
  ShowVolume();
  ShowBuffered();
}

void PlayerControls::ShowPlayState() {
  const bool playing = player_.HasFile() && !player_.IsPaused() && !player_.IsEndReached();
  playPause_->setIcon(playing ? pauseIcon_ : playIcon_);
  playPause_->setToolTip(playing ? tr("Pause (Space)") : tr("Play (Space)"));
  playPause_->setAccessibleName(playing ? tr("Pause") : tr("Play"));
}

void PlayerControls::ShowTime() {
  if (!isVisible()) return;
  const double duration = player_.HasFile() ? player_.Duration() : 0;
  seek_->SetDuration(duration);
  seek_->SetPosition(player_.Position());
  const QString text = player_.HasFile() ? PlaybackTimeText(player_.Position(), duration)
                                         : QStringLiteral("--:-- / --:--");
  // Reported many times a second; the label relays out on every change.
  if (text != time_->text()) time_->setText(text);
}

void PlayerControls::ShowVolume() {
  const bool muted = player_.IsMuted();
  mute_->setChecked(muted);
  mute_->setIcon(muted ? mutedIcon_ : volumeIcon_);
  mute_->setToolTip(muted ? tr("Unmute (M)") : tr("Mute (M)"));
  const QSignalBlocker quiet(volume_);
  volume_->setValue(qRound(player_.Volume()));
}

void PlayerControls::ShowBuffered() {
  if (isVisible()) seek_->SetBuffered(player_.BufferedRanges());
}

void PlayerControls::paintEvent(QPaintEvent*) {
  // A band the picture shows through, darker at the bottom where the
  // controls sit.
  QLinearGradient shade(0, 0, 0, height());
  QColor top = band_;
  top.setAlphaF(0.35f);
  QColor bottom = band_;
  bottom.setAlphaF(0.75f);
  shade.setColorAt(0, top);
  shade.setColorAt(1, bottom);
  QPainter(this).fillRect(rect(), shade);
}

void PlayerControls::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Sync();
}

// Presses between the buttons belong to the controls, not to the picture,
// where a click would pause.
void PlayerControls::mousePressEvent(QMouseEvent* event) { event->accept(); }
void PlayerControls::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

bool PlayerControls::eventFilter(QObject* watched, QEvent* event) {
  // The wheel means volume everywhere in the player area; the slider would
  // otherwise take it in its own, larger steps.
  if (watched == volume_ && event->type() == QEvent::Wheel) {
    event->ignore();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}
