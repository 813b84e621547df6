#include "player_ui/player_overlay.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QToolButton>
#include <algorithm>

#include "media/movie.h"
#include "player_model/playback_state.h"
#include "player_model/player_commands.h"
#include "player_ui/cue_marks.h"
#include "player_ui/file_info_view.h"
#include "player_ui/help_view.h"
#include "player_ui/player_controls.h"
#include "player_ui/player_icons.h"
#include "player_ui/player_input.h"
#include "player_ui/seek_bar.h"
#include "player_ui/seek_preview_popup.h"

namespace {

// The replay button: a see-through disc with the replay sign, large enough
// to find at once in the middle of the last frame.
class RoundButton : public QAbstractButton {
 public:
  using QAbstractButton::QAbstractButton;

  void SetColours(const QColor& disc, const QColor& glyph) {
    disc_ = disc;
    glyph_ = glyph;
    update();
  }

  QSize sizeHint() const override { return {72, 72}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor disc = disc_;
    disc.setAlphaF(isDown() ? 0.9f : underMouse() ? 0.8f : 0.6f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(disc);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.drawEllipse(area);
    player_icons::Draw(painter, player_icons::Glyph::kReplay, area.adjusted(18, 18, -18, -18),
                       glyph_);
  }

  void enterEvent(QEnterEvent* event) override {
    update();
    QAbstractButton::enterEvent(event);
  }
  void leaveEvent(QEvent* event) override {
    update();
    QAbstractButton::leaveEvent(event);
  }

 private:
  QColor disc_ = Qt::black;
  QColor glyph_ = Qt::white;
};

}  // namespace

PlayerOverlay::PlayerOverlay(QWidget& area, const PlaybackState& state, PlayerCommands& commands)
    : QObject(&area),
      area_(area),
      state_(state),
      commands_(commands),
      input_(new PlayerInput(area, state, commands)),
      controls_(new PlayerControls(state, commands, &area)),
      replay_(new RoundButton(&area)),
      fileInfo_(new FileInfoView(state, area)),
      cueMarks_(new CueMarks(state, *controls_->Seek(), area)),
      help_(new HelpView(&area)),
      seekPreview_(new SeekPreviewPopup(*controls_->Seek(), &area)) {
  controls_->hide();

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
  // The focus coming to a control by Tab brings the bar up and keeps it.
  connect(qApp, &QApplication::focusChanged, this, [this] {
    if (ControlsHaveFocus()) Reveal();
  });
  connect(&state_, &PlaybackState::pictureCopied, this, [this](QSize size) {
    ShowNotice(
        tr("Picture copied to the clipboard (%1\u00d7%2)").arg(size.width()).arg(size.height()));
  });
  connect(&state_, &PlaybackState::fileLoaded, this, &PlayerOverlay::Reveal);
  for (auto changed : {&PlaybackState::pausedChanged, &PlaybackState::endReachedChanged,
                       &PlaybackState::hasFileChanged, &PlaybackState::audioOnlyChanged}) {
    connect(&state_, changed, this, &PlayerOverlay::OnStateChanged);
  }
  connect(&state_, &PlaybackState::bufferingChanged, this, &PlayerOverlay::OnStateChanged);
  connect(&state_, &PlaybackState::decodeProblemChanged, this, &PlayerOverlay::ShowNotice);
  connect(&state_, &PlaybackState::progressChanged, &area_, qOverload<>(&QWidget::update));
  connect(&state_, &PlaybackState::captionChanged, &area_, qOverload<>(&QWidget::update));

  area_.installEventFilter(this);
  Layout();
}

void PlayerOverlay::SetMovie(const movie::Movie* movie) {
  playerMovie_ = movie && movie->kind == movie::Kind::kPlayer;
  showControls_ = playerMovie_ && movie->controls;
  input_->SetActive(playerMovie_);
  if (playerMovie_) {
    text_ = movie->textColor;
    band_ = movie->background.value_or(Qt::black);
    controls_->SetColours(band_, text_, movie->accentColor);
    static_cast<RoundButton*>(replay_)->SetColours(band_, text_);
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
}

void PlayerOverlay::SetPreviewSource(PreviewSource* source) { seekPreview_->SetSource(source); }

bool PlayerOverlay::ControlsHaveFocus() const {
  const QWidget* focus = QApplication::focusWidget();
  return focus && (controls_->isAncestorOf(focus) || focus == replay_);
}

void PlayerOverlay::ShowHelp(bool show) {
  if (show) fileInfo_->SetOpen(false);
  if (show) help_->Place();
  help_->setVisible(show);
  if (show) help_->raise();
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
  // The buffering indicator and the audio-only screen are painted.
  area_.update();
}

bool PlayerOverlay::MayHide() const {
  // Only over a moving picture: paused, ended, waiting or sound-only, the
  // bar hides nothing worth seeing.
  return state_.hasFile() && !state_.paused() && !state_.endReached() && !state_.audioOnly() &&
         !state_.buffering();
}

void PlayerOverlay::Apply() {
  const bool available = showControls_ && state_.hasFile();
  controls_->setVisible(available && revealed_);
  replay_->setVisible(available && state_.endReached());
}

void PlayerOverlay::Layout() {
  const QRect area = area_.rect();
  const int barHeight = controls_->sizeHint().height();
  controls_->setGeometry(0, area.height() - barHeight, area.width(), barHeight);
  QRect centre(QPoint(0, 0), replay_->sizeHint());
  centre.moveCenter(area.center());
  replay_->setGeometry(centre);
  // The bar's button stays reachable below the information.
  fileInfo_->Place(barHeight);
  if (help_->isVisible()) help_->Place();
}

void PlayerOverlay::ShowNotice(const QString& text) {
  if (text.isEmpty()) {
    noticeTimer_.stop();
  } else {
    noticeTimer_.start();
  }
  if (text == notice_) return;
  notice_ = text;
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
  if (!playerMovie_) return;
  if (state_.hasFile() && state_.audioOnly()) PaintAudioOnly(painter);
  const QRectF area = QRectF(area_.rect()).adjusted(8, 8, -8, -8);
  const QString buffering = BufferingText();
  if (!buffering.isEmpty()) PaintBox(painter, area, buffering, Qt::AlignCenter);
  if (!state_.progress().isEmpty()) PaintBox(painter, area, state_.progress(), Qt::AlignCenter);
  if (!notice_.isEmpty()) PaintBox(painter, area, notice_, Qt::AlignTop | Qt::AlignHCenter);
  if (!state_.caption().isEmpty()) {
    // Above the control bar, showing or not, so that it does not jump.
    const QRectF above = area.adjusted(0, 0, 0, -controls_->sizeHint().height());
    PaintBox(painter, above, state_.caption(), Qt::AlignBottom | Qt::AlignHCenter);
  }
}

void PlayerOverlay::PaintBox(QPainter& painter, const QRectF& area, const QString& text,
                             int flags) const {
  const QRectF inner = area.adjusted(8, 4, -8, -4);
  if (inner.isEmpty()) return;
  flags |= Qt::TextWordWrap;
  const QRectF bounds = painter.fontMetrics().boundingRect(inner.toRect(), flags, text);
  QColor shade = band_;
  shade.setAlphaF(0.75f);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(shade);
  painter.drawRoundedRect(bounds.adjusted(-8, -4, 8, 4), 6, 6);
  painter.setPen(text_);
  // Plain text: QPainter never reads it as markup.
  painter.drawText(inner, flags, text);
  painter.restore();
}

void PlayerOverlay::PaintAudioOnly(QPainter& painter) const {
  // Centred in what the control bar leaves, whether it shows or not, so
  // that nothing jumps when it hides.
  const QRectF area = QRectF(area_.rect()).adjusted(8, 8, -8, -8 - controls_->sizeHint().height());
  if (area.isEmpty()) return;
  const qreal glyph = std::clamp(std::min(area.width(), area.height()) / 3, 16.0, 96.0);
  const QFont base = painter.font();
  QFont title = base;
  title.setBold(true);
  const QFontMetricsF titleMetrics(title);
  const QFontMetricsF nameMetrics(base);
  const qreal total = glyph + 8 + titleMetrics.height() + nameMetrics.height();
  qreal y = area.top() + std::max((area.height() - total) / 2, 0.0);

  painter.save();
  player_icons::Draw(painter, player_icons::Glyph::kNote,
                     QRectF(area.center().x() - glyph / 2, y, glyph, glyph), text_);
  y += glyph + 8;
  painter.setPen(text_);
  painter.setFont(title);
  painter.drawText(QRectF(area.left(), y, area.width(), titleMetrics.height()), Qt::AlignCenter,
                   tr("Audio only"));
  y += titleMetrics.height();
  painter.setFont(base);
  const QString name = nameMetrics.elidedText(state_.title(), Qt::ElideMiddle, area.width());
  painter.drawText(QRectF(area.left(), y, area.width(), nameMetrics.height()), Qt::AlignCenter,
                   name);
  painter.restore();
}
