#include "player_ui/player_overlay.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "media/movie.h"
#include "player_model/playback_state.h"
#include "player_model/player_commands.h"
#include "player_ui/cue_marks.h"
#include "player_ui/file_info_view.h"
#include "player_ui/help_view.h"
#include "player_ui/player_controls.h"
#include "player_ui/player_input.h"
#include "player_ui/round_button.h"
#include "player_ui/seek_bar.h"
#include "player_ui/seek_preview_popup.h"

using overlay_layers::Centre;
using LoadState = PlaybackState::LoadState;

PlayerOverlay::PlayerOverlay(QWidget& area, const PlaybackState& state, PlayerCommands& commands)
    : QObject(&area),
      area_(area),
      state_(state),
      commands_(commands),
      input_(new PlayerInput(area, state, commands)),
      controls_(new PlayerControls(state, commands, &area)),
      replay_(new RoundButton(&area)),
      fileInfo_(new FileInfoView(state, area)),
      cueMarks_(new CueMarks(state, *controls_->Seek())),
      help_(new HelpView(&area)),
      seekPreview_(new SeekPreviewPopup(*controls_->Seek(), &area)) {
  controls_->hide();
  seekPreview_->SetCues(cueMarks_);

  replay_->setObjectName(QStringLiteral("replay"));
  replay_->setFocusPolicy(Qt::TabFocus);
  replay_->setCursor(Qt::PointingHandCursor);
  replay_->setToolTip(tr("Play again from the start"));
  replay_->setAccessibleName(tr("Replay"));
  replay_->hide();
  // Play restarts a file held at its end from the beginning.
  connect(replay_, &QAbstractButton::clicked, this, [this] { commands_.Play(); });

  hideTimer_.setSingleShot(true);
  hideTimer_.setInterval(kHideDelayMs);
  connect(&hideTimer_, &QTimer::timeout, this, [this] {
    if (!MayHide()) return;
    // Not from under the pointer of someone about to click, nor from under
    // the keyboard of someone working the controls.
    if (controls_->underMouse() || ControlsHaveFocus()) {
      hideTimer_.start();
      return;
    }
    revealed_ = false;
    Apply();
  });
  noticeTimer_.setSingleShot(true);
  noticeTimer_.setInterval(kNoticeMs);
  connect(&noticeTimer_, &QTimer::timeout, this, [this] { ShowNotice({}); });

  connect(input_, &PlayerInput::activity, this, &PlayerOverlay::Reveal);
  // One view over the picture at a time: opening one closes the other.
  const auto toggleInfo = [this] {
    const bool open = !fileInfo_->IsOpen();
    if (open) ShowHelp(false);
    fileInfo_->SetOpen(open);
  };
  connect(input_, &PlayerInput::viewToggled, this, [this, toggleInfo](player_actions::View view) {
    if (view == player_actions::View::kFileInfo) toggleInfo();
    if (view == player_actions::View::kHelp) ShowHelp(help_->isHidden());
  });
  connect(controls_, &PlayerControls::infoToggled, this, toggleInfo);
  connect(fileInfo_, &FileInfoView::openChanged, controls_->InfoButton(),
          &QAbstractButton::setChecked);
  // A view covers the slots under it: they are drawn again when it goes.
  connect(fileInfo_, &FileInfoView::openChanged, this, &PlayerOverlay::OnStateChanged);
  // The focus coming to a control by Tab brings the bar up and keeps it.
  connect(qApp, &QApplication::focusChanged, this, [this] {
    if (ControlsHaveFocus()) Reveal();
  });
  connect(&state_, &PlaybackState::pictureCopied, this, [this](QSize size) {
    ShowNotice(
        tr("Picture copied to the clipboard (%1\u00d7%2)").arg(size.width()).arg(size.height()));
  });
  connect(&state_, &PlaybackState::fileLoaded, this, &PlayerOverlay::Reveal);
  connect(&state_, &PlaybackState::decodeProblemChanged, this, &PlayerOverlay::ShowNotice);
  // Whatever decides what shows where.
  connect(&state_, &PlaybackState::loadStateChanged, this, &PlayerOverlay::OnStateChanged);
  connect(&state_, &PlaybackState::bufferingChanged, this, &PlayerOverlay::OnStateChanged);
  for (auto changed : {&PlaybackState::pausedChanged, &PlaybackState::audioOnlyChanged}) {
    connect(&state_, changed, this, &PlayerOverlay::OnStateChanged);
  }
  for (auto changed : {&PlaybackState::messageChanged, &PlaybackState::progressChanged,
                       &PlaybackState::captionChanged}) {
    connect(&state_, changed, this, &PlayerOverlay::OnStateChanged);
  }

  area_.installEventFilter(this);
  Layout();
}

PlayerOverlay::~PlayerOverlay() = default;

void PlayerOverlay::SetMovie(const movie::Movie* movie) {
  playerMovie_ = movie && movie->kind == movie::Kind::kPlayer;
  showControls_ = playerMovie_ && movie->controls;
  messageColour_ = movie ? movie->textColor : QColor(Qt::black);
  input_->SetActive(playerMovie_);
  if (playerMovie_) {
    text_ = movie->textColor;
    band_ = movie->background.value_or(Qt::black);
    controls_->SetColours(band_, text_, movie->accentColor);
    replay_->SetColours(band_, text_);
    fileInfo_->SetColours(band_, text_);
    cueMarks_->SetColours(band_, text_);
    help_->SetColours(band_, text_);
    seekPreview_->SetColours(band_, text_);
  }
  if (!playerMovie_) {
    fileInfo_->SetOpen(false);
    ShowHelp(false);
  }
  ShowNotice({});
  revealed_ = true;
  Apply();
  area_.update();
}

void PlayerOverlay::SetPreviewSource(PreviewSource* source) { seekPreview_->SetSource(source); }

QAbstractButton* PlayerOverlay::ReplayButton() const { return replay_; }

bool PlayerOverlay::ControlsHaveFocus() const {
  const QWidget* focus = QApplication::focusWidget();
  return focus && (controls_->isAncestorOf(focus) || focus == replay_);
}

void PlayerOverlay::ShowHelp(bool show) {
  if (show) fileInfo_->SetOpen(false);
  if (show) help_->Place(BarHeight());
  if (show == help_->isVisible()) return;
  help_->setVisible(show);
  if (show) help_->raise();
  OnStateChanged();
}

bool PlayerOverlay::ControlsVisible() const { return controls_->isVisible(); }
bool PlayerOverlay::ReplayVisible() const { return replay_->isVisible(); }

QString PlayerOverlay::BufferingText() const {
  if (!playerMovie_ || !state_.buffering()) return {};
  return tr("Buffering\u2026 %1%").arg(state_.bufferingPercent());
}

void PlayerOverlay::Reveal() {
  revealed_ = true;
  Apply();
  if (MayHide()) {
    hideTimer_.start();
  } else {
    hideTimer_.stop();
  }
}

void PlayerOverlay::OnStateChanged() {
  if (!MayHide()) {
    hideTimer_.stop();
    revealed_ = true;
  } else if (revealed_ && !hideTimer_.isActive()) {
    hideTimer_.start();
  }
  Apply();
  // The slots are painted.
  area_.update();
}

bool PlayerOverlay::MayHide() const {
  // Only over a moving picture: paused, ended, waiting or sound-only, the
  // bar hides nothing worth seeing.
  return state_.loadState() == LoadState::kPlaying && !state_.paused() && !state_.audioOnly() &&
         !state_.buffering();
}

overlay_layers::Overlay PlayerOverlay::Facts() const {
  overlay_layers::Overlay facts;
  facts.playerMovie = playerMovie_;
  facts.movieControls = showControls_;
  facts.revealed = revealed_;
  facts.viewOpen = fileInfo_->IsOpen() || help_->isVisible();
  facts.notice = !notice_.isEmpty();
  return facts;
}

int PlayerOverlay::BarHeight() const { return showControls_ ? controls_->sizeHint().height() : 0; }

void PlayerOverlay::Arrange(Arrangement& arrangement) const {
  using overlay_layers::kMargin;
  using overlay_paint::Wrapped;
  const overlay_layers::Plan plan = overlay_layers::Decide(state_, Facts());
  arrangement.plan = plan;
  const QRect area = area_.rect();
  const QFont font = area_.font();
  const int bar = BarHeight();
  const QRect room = area.adjusted(kMargin, kMargin, -kMargin, -kMargin - bar);
  const int boxed = room.width() - 2 * overlay_paint::kPadX;

  int notice = 0;
  int centre = 0;
  int caption = 0;
  if (plan.notice) {
    arrangement.notice = std::make_unique<Wrapped>(notice_, font, boxed);
    notice = overlay_paint::BoxHeight(*arrangement.notice);
  }
  if (plan.caption) {
    arrangement.caption = std::make_unique<Wrapped>(state_.caption(), font, boxed);
    caption = overlay_paint::BoxHeight(*arrangement.caption);
  }
  const int icon = overlay_paint::IconSize(room);
  switch (plan.centre) {
    case Centre::kMessage: {
      const int width = MessageWidth();
      arrangement.centre =
          std::make_unique<Wrapped>(message_.Get(state_.message(), font, width), font, width);
      centre = playerMovie_ ? overlay_paint::BoxHeight(*arrangement.centre)
                            : int(std::ceil(arrangement.centre->Height()));
      break;
    }
    case Centre::kProgress:
    case Centre::kBuffering: {
      const QString text = plan.centre == Centre::kProgress ? state_.progress() : BufferingText();
      arrangement.centre = std::make_unique<Wrapped>(text, font, boxed);
      centre = overlay_paint::BoxHeight(*arrangement.centre);
      break;
    }
    case Centre::kAudioOnly:
      centre = overlay_paint::AudioOnlyHeight(icon, font);
      break;
    case Centre::kReplay:
      centre = RoundButton::kSize;
      break;
    case Centre::kNothing:
      break;
  }
  arrangement.where = overlay_layers::Arrange(area, bar, notice, centre, caption);
  const QRect slot = arrangement.where.centre;
  if (plan.centre == Centre::kAudioOnly) {
    arrangement.audioOnly = overlay_paint::ArrangeAudioOnly(slot, icon, font);
    if (plan.replay) arrangement.replay = arrangement.audioOnly.icon;
  } else if (plan.centre == Centre::kReplay) {
    const int size = std::min({int(RoundButton::kSize), slot.width(), slot.height()});
    arrangement.replay = QRect(0, 0, size, size);
    arrangement.replay.moveCenter(slot.center());
  }
}

overlay_layers::Plan PlayerOverlay::Shown() const {
  return overlay_layers::Decide(state_, Facts());
}

overlay_layers::Slots PlayerOverlay::Slots() const {
  Arrangement arrangement;
  Arrange(arrangement);
  return arrangement.where;
}

int PlayerOverlay::MessageWidth() const {
  // Inside a box over the player's picture; alone under another movie.
  const int inset = playerMovie_ ? 2 * overlay_paint::kPadX : 0;
  return area_.width() - 2 * overlay_layers::kMargin - inset;
}

QString PlayerOverlay::MessageText() const {
  if (Shown().centre != Centre::kMessage) return {};
  return message_.Get(state_.message(), area_.font(), MessageWidth());
}

void PlayerOverlay::Apply() {
  Arrangement arrangement;
  Arrange(arrangement);
  controls_->setVisible(arrangement.plan.controls);
  const bool replay = arrangement.plan.replay && !arrangement.replay.isEmpty();
  if (replay) replay_->setGeometry(arrangement.replay);
  replay_->setVisible(replay);
}

void PlayerOverlay::Layout() {
  const QRect area = area_.rect();
  const int barHeight = controls_->sizeHint().height();
  controls_->setGeometry(0, area.height() - barHeight, area.width(), barHeight);
  // The bar's button stays reachable below the information.
  fileInfo_->Place(barHeight);
  if (help_->isVisible()) help_->Place(BarHeight());
  Apply();
}

void PlayerOverlay::ShowNotice(const QString& text) {
  if (text.isEmpty()) {
    noticeTimer_.stop();
  } else {
    noticeTimer_.start();
  }
  if (text == notice_) return;
  notice_ = text;
  // The centre may have given way to it.
  Apply();
  area_.update();
}

bool PlayerOverlay::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &area_) return false;
  if (event->type() == QEvent::Resize) Layout();
  // Esc closes the information or the list of keys, keys from inside them
  // included (they come on to the area); otherwise it is not the player's.
  if (event->type() == QEvent::KeyPress && (fileInfo_->IsOpen() || help_->isVisible()) &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    fileInfo_->SetOpen(false);
    ShowHelp(false);
    return true;
  }
  return false;
}

void PlayerOverlay::Paint(QPainter& painter) const {
  painter.save();
  painter.setFont(area_.font());
  Arrangement arrangement;
  Arrange(arrangement);
  const overlay_layers::Plan& plan = arrangement.plan;
  const overlay_layers::Slots& where = arrangement.where;
  switch (plan.centre) {
    case Centre::kMessage:
      // Under another movie, in its text colour over whatever it shows.
      if (playerMovie_) {
        overlay_paint::Box(painter, where.centre, *arrangement.centre, band_, text_);
      } else {
        overlay_paint::Plain(painter, where.centre, *arrangement.centre, messageColour_);
      }
      break;
    case Centre::kProgress:
    case Centre::kBuffering:
      overlay_paint::Box(painter, where.centre, *arrangement.centre, band_, text_);
      break;
    case Centre::kAudioOnly:
      // At the end the replay button stands where the note was.
      overlay_paint::PaintAudioOnly(painter, arrangement.audioOnly, !plan.replay, state_.title(),
                                    text_);
      break;
    case Centre::kReplay:
    case Centre::kNothing:
      break;
  }
  if (plan.notice) overlay_paint::Box(painter, where.notice, *arrangement.notice, band_, text_);
  if (plan.caption) overlay_paint::Box(painter, where.caption, *arrangement.caption, band_, text_);
  painter.restore();
}
