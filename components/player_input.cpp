#include "player_input.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWheelEvent>

#include "mpv_player.h"

PlayerInput::PlayerInput(MpvPlayer& player) : QObject(&player), player_(player) {
  player_.setFocusPolicy(Qt::StrongFocus);
  // Movement without a button pressed brings the controls back.
  player_.setMouseTracking(true);
  player_.setAcceptDrops(true);
  player_.installEventFilter(this);
}

bool PlayerInput::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &player_ || !active_) return false;
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      // Shortcuts with modifiers belong to the window's menus.
      if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || !OnKey(key->key())) {
        return false;
      }
      key->accept();
      emit activity();
      return true;
    }
    case QEvent::Wheel: {
      auto* wheel = static_cast<QWheelEvent*>(event);
      wheelRemainder_ += wheel->angleDelta().y();
      const int notches = wheelRemainder_ / QWheelEvent::DefaultDeltasPerStep;
      wheelRemainder_ -= notches * QWheelEvent::DefaultDeltasPerStep;
      if (notches != 0) player_.SetVolume(player_.Volume() + notches * kVolumeStep);
      wheel->accept();
      emit activity();
      return true;
    }
    case QEvent::MouseButtonPress:
      // Presses on the controls are taken by them and never get here. With
      // no file open there is nothing to pause, and a click is no request
      // to try a failed address again.
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && player_.HasFile()) {
        player_.TogglePause();
      }
      emit activity();
      // The player area's own handler takes the press from the window below.
      return false;
    case QEvent::MouseMove:
      emit activity();
      return false;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (DroppedAddress(*drag->mimeData()).isEmpty()) return false;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString address = DroppedAddress(*drop->mimeData());
      if (address.isEmpty()) return false;
      drop->acceptProposedAction();
      // The same way in as the program's own addresses: the policy decides.
      player_.SetVariable(QStringLiteral("myuri"), address);
      emit activity();
      return true;
    }
    default:
      return false;
  }
}

bool PlayerInput::OnKey(int key) {
  switch (key) {
    case Qt::Key_Space:
      player_.TogglePause();
      return true;
    case Qt::Key_Left:
      player_.SeekBy(-kSeekStep);
      return true;
    case Qt::Key_Right:
      player_.SeekBy(kSeekStep);
      return true;
    case Qt::Key_Up:
      player_.SetVolume(player_.Volume() + kVolumeStep);
      return true;
    case Qt::Key_Down:
      player_.SetVolume(player_.Volume() - kVolumeStep);
      return true;
    case Qt::Key_M:
      player_.SetMuted(!player_.IsMuted());
      return true;
    case Qt::Key_Home:
      player_.SeekTo(0);
      return true;
    default:
      return false;
  }
}

QString PlayerInput::DroppedAddress(const QMimeData& data) const {
  // One address plays; of several dropped, the first.
  if (data.hasUrls() && !data.urls().isEmpty()) {
    const QUrl url = data.urls().constFirst();
    return url.isLocalFile() ? url.toLocalFile() : url.toString();
  }
  if (data.hasText()) return data.text().section(QLatin1Char('\n'), 0, 0).trimmed();
  return {};
}
