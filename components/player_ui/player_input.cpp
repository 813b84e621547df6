#include "player_ui/player_input.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

#include "player_model/playback_state.h"
#include "player_model/player_commands.h"
#include "player_ui/overlay_layers.h"
#include "player_ui/player_actions.h"

PlayerInput::PlayerInput(QWidget& area, const PlaybackState& state, PlayerCommands& commands)
    : QObject(&area), area_(area), state_(state), commands_(commands) {
  area_.setFocusPolicy(Qt::StrongFocus);
  // Movement without a button pressed brings the controls back.
  area_.setMouseTracking(true);
  area_.setAcceptDrops(true);
  area_.installEventFilter(this);
}

bool PlayerInput::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &area_ || !active_) return false;
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
        // Qt moves the focus after this, to controls that must be up by then.
        emit activity();
        return false;
      }
      // Shortcuts with modifiers belong to the window's menus.
      const player_actions::Action* action = player_actions::ForKey(key->keyCombination());
      if (!action) return false;
      key->accept();
      if (action->run) action->run(commands_, state_);
      if (action->view != player_actions::View::kNone) emit viewToggled(action->view);
      emit activity();
      return true;
    }
    case QEvent::Wheel: {
      auto* wheel = static_cast<QWheelEvent*>(event);
      wheelRemainder_ += wheel->angleDelta().y();
      const int notches = wheelRemainder_ / QWheelEvent::DefaultDeltasPerStep;
      wheelRemainder_ -= notches * QWheelEvent::DefaultDeltasPerStep;
      if (notches != 0) {
        commands_.SetVolume(state_.volume() + notches * player_actions::kVolumeStep);
      }
      wheel->accept();
      emit activity();
      return true;
    }
    case QEvent::MouseButtonPress:
      // Presses on the controls are taken by them and never get here. With
      // no file open there is nothing to pause, and a click is no request
      // to try a failed address again.
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
          overlay_layers::FileOpen(state_)) {
        commands_.TogglePause();
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
      commands_.OpenAddress(address);
      emit activity();
      return true;
    }
    default:
      return false;
  }
}

QString PlayerInput::DroppedAddress(const QMimeData& data) {
  // One address plays; of several dropped, the first. A dropped file comes
  // as its URL, read as sent (a URL parser would drop or rewrite what it
  // does not like): the address policy decodes it to the bytes of the name,
  // which need not be text, and judges it then.
  if (data.hasFormat(QStringLiteral("text/uri-list"))) {
    for (const QByteArray& line : data.data(QStringLiteral("text/uri-list")).split('\n')) {
      const QByteArray uri = line.trimmed();
      if (!uri.isEmpty() && !uri.startsWith('#')) return QString::fromLatin1(uri);
    }
  }
  if (data.hasText()) return data.text().section(QLatin1Char('\n'), 0, 0).trimmed();
  return {};
}
