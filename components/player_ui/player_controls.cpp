#include "player_ui/player_controls.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QToolButton>

#include "player_model/playback_state.h"
#include "player_model/player_commands.h"
#include "player_ui/overlay_layers.h"
#include "player_ui/playback_time.h"
#include "player_ui/player_actions.h"
#include "player_ui/player_icons.h"
#include "player_ui/seek_bar.h"
#include "player_ui/seek_bar_accessible.h"

using player_icons::Glyph;

namespace {

QToolButton* MakeButton(QWidget* parent, const QString& name) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  // Tab reaches it; a click leaves the focus with the player area's keys.
  button->setFocusPolicy(Qt::TabFocus);
  button->setAutoRaise(true);
  button->setIconSize(QSize(20, 20));
  return button;
}

}  // namespace

PlayerControls::PlayerControls(const PlaybackState& state, PlayerCommands& commands,
                               QWidget* parent)
    : QWidget(parent), state_(state), commands_(commands) {
  setObjectName(QStringLiteral("controls"));
  setAccessibleName(tr("Playback controls"));

  playPause_ = MakeButton(this, QStringLiteral("playPause"));
  connect(playPause_, &QToolButton::clicked, this, [this] { commands_.TogglePause(); });

  // Before the first bar exists: Qt asks for its description as it is made.
  seek_bar_accessible::Install();
  seek_ = new SeekBar(this);
  seek_->setObjectName(QStringLiteral("seekBar"));
  seek_->setToolTip(
      tr("Seek (%1 and %2: %3 seconds)")
          .arg(player_actions::KeyText(player_actions::Get(player_actions::Id::kSeekBack)),
               player_actions::KeyText(player_actions::Get(player_actions::Id::kSeekForward)))
          .arg(player_actions::kSeekStepSeconds));
  connect(seek_, &SeekBar::seekRequested, this, [this](double at) { commands_.SeekTo(at); });

  time_ = new QLabel(this);
  time_->setObjectName(QStringLiteral("time"));
  time_->setToolTip(tr("Elapsed time / duration"));
  time_->setAccessibleName(tr("Elapsed time and duration"));

  speed_ = MakeButton(this, QStringLiteral("speed"));
  speed_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  speed_->setToolTip(
      player_actions::Tooltip(tr("Back to normal speed"), player_actions::Id::kNormalSpeed));
  speed_->hide();
  connect(speed_, &QToolButton::clicked, this, [this] { commands_.SetSpeed(1); });

  mute_ = MakeButton(this, QStringLiteral("mute"));
  mute_->setCheckable(true);
  mute_->setAccessibleName(tr("Mute"));
  connect(mute_, &QToolButton::clicked, this, [this](bool on) { commands_.SetMuted(on); });

  volume_ = new QSlider(Qt::Horizontal, this);
  volume_->setObjectName(QStringLiteral("volume"));
  volume_->setFocusPolicy(Qt::TabFocus);
  volume_->setRange(0, 100);
  volume_->setSingleStep(5);
  volume_->setPageStep(10);
  volume_->setFixedWidth(64);
  using player_actions::Get;
  using player_actions::KeyText;
  volume_->setToolTip(tr("Volume (%1 and %2, mouse wheel)")
                          .arg(KeyText(Get(player_actions::Id::kVolumeUp)),
                               KeyText(Get(player_actions::Id::kVolumeDown))));
  volume_->setAccessibleName(tr("Volume"));
  volume_->installEventFilter(this);
  connect(volume_, &QSlider::valueChanged, this, [this](int value) {
    // Only the user's moves: the player's own reports set the slider with
    // signals blocked.
    commands_.SetVolume(value);
  });

  info_ = MakeButton(this, QStringLiteral("fileInfoButton"));
  info_->setCheckable(true);
  const player_actions::Action& infoAction = player_actions::Get(player_actions::Id::kFileInfo);
  info_->setToolTip(player_actions::Tooltip(infoAction.name, infoAction.id));
  info_->setAccessibleName(infoAction.name);
  connect(info_, &QToolButton::clicked, this, &PlayerControls::infoToggled);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 2, 8, 2);
  layout->setSpacing(4);
  layout->addWidget(playPause_);
  layout->addWidget(seek_, 1);
  layout->addWidget(time_);
  layout->addWidget(speed_);
  layout->addWidget(mute_);
  layout->addWidget(volume_);
  layout->addWidget(info_);

  // Every report is cheap to ignore while hidden; showEvent catches up.
  connect(&state_, &PlaybackState::pausedChanged, this, [this] { ShowPlayState(); });
  connect(&state_, &PlaybackState::loadStateChanged, this, [this] { Sync(); });
  connect(&state_, &PlaybackState::positionChanged, this, [this] { ShowTime(); });
  connect(&state_, &PlaybackState::durationChanged, this, [this] { ShowTime(); });
  connect(&state_, &PlaybackState::volumeChanged, this, [this] { ShowVolume(); });
  connect(&state_, &PlaybackState::mutedChanged, this, [this] { ShowVolume(); });
  connect(&state_, &PlaybackState::bufferedRangesChanged, this, [this] { ShowBuffered(); });
  connect(&state_, &PlaybackState::speedChanged, this, [this] { ShowSpeed(); });

  SetColours(Qt::black, Qt::white, Qt::white);
}

void PlayerControls::SetColours(const QColor& band, const QColor& text, const QColor& accent) {
  band_ = band;
  playIcon_ = player_icons::Icon(Glyph::kPlay, text);
  pauseIcon_ = player_icons::Icon(Glyph::kPause, text);
  volumeIcon_ = player_icons::Icon(Glyph::kVolume, text);
  mutedIcon_ = player_icons::Icon(Glyph::kMuted, text);
  info_->setIcon(player_icons::Icon(Glyph::kInfo, text));

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
  ShowSpeed();
}

void PlayerControls::ShowPlayState() {
  const bool playing = state_.loadState() == PlaybackState::LoadState::kPlaying && !state_.paused();
  playPause_->setIcon(playing ? pauseIcon_ : playIcon_);
  playPause_->setToolTip(
      player_actions::Tooltip(playing ? tr("Pause") : tr("Play"), player_actions::Id::kPlayPause));
  playPause_->setAccessibleName(playing ? tr("Pause") : tr("Play"));
}

void PlayerControls::ShowTime() {
  if (!isVisible()) return;
  const bool open = overlay_layers::FileOpen(state_);
  const double duration = open ? state_.duration() : 0;
  seek_->SetDuration(duration);
  seek_->SetPosition(state_.position());
  const QString text =
      open ? PlaybackTimeText(state_.position(), duration) : QStringLiteral("--:-- / --:--");
  // Reported many times a second; the label relays out on every change.
  if (text != time_->text()) time_->setText(text);
}

void PlayerControls::ShowVolume() {
  const bool muted = state_.muted();
  mute_->setChecked(muted);
  mute_->setIcon(muted ? mutedIcon_ : volumeIcon_);
  mute_->setToolTip(
      player_actions::Tooltip(muted ? tr("Unmute") : tr("Mute"), player_actions::Id::kMute));
  const QSignalBlocker quiet(volume_);
  volume_->setValue(qRound(state_.volume()));
}

void PlayerControls::ShowBuffered() {
  if (isVisible()) seek_->SetBuffered(state_.bufferedRanges());
}

void PlayerControls::ShowSpeed() {
  // Shown only while it is not normal: the usual speed needs no word.
  const double speed = state_.speed();
  const QString text = player_actions::SpeedText(speed);
  speed_->setText(text);
  speed_->setAccessibleName(tr("Speed %1").arg(text));
  speed_->setVisible(speed != 1);
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
