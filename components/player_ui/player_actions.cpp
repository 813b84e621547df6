#include "player_actions.h"

#include <QCoreApplication>
#include <QStringList>

#include "cue_points.h"
#include "playback_state.h"
#include "player_commands.h"

namespace player_actions {
namespace {

QString Tr(const char* text) { return QCoreApplication::translate("player_actions", text); }

QList<Action> Build() {
  using C = PlayerCommands;
  using S = PlaybackState;
  const QString seekHelp = Tr("Seek %1 %2 seconds");
  const QString step = QString::number(kSeekStepSeconds);
  const QString volumeStep = QString::number(kVolumeStep);
  return {
      {Id::kPlayPause,
       {Qt::Key_Space},
       Tr("Play / pause"),
       Tr("Play or pause"),
       [](C& c, const S&) { c.TogglePause(); }},
      {Id::kSeekBack,
       {Qt::Key_Left},
       Tr("Back"),
       seekHelp.arg(Tr("back"), step),
       [](C& c, const S&) { c.SeekBy(-kSeekStepSeconds); }},
      {Id::kSeekForward,
       {Qt::Key_Right},
       Tr("Forward"),
       seekHelp.arg(Tr("forward"), step),
       [](C& c, const S&) { c.SeekBy(kSeekStepSeconds); }},
      {Id::kVolumeUp,
       {Qt::Key_Up},
       Tr("Louder"),
       Tr("Volume up by %1").arg(volumeStep),
       [](C& c, const S& s) { c.SetVolume(s.volume() + kVolumeStep); }},
      {Id::kVolumeDown,
       {Qt::Key_Down},
       Tr("Softer"),
       Tr("Volume down by %1").arg(volumeStep),
       [](C& c, const S& s) { c.SetVolume(s.volume() - kVolumeStep); }},
      {Id::kMute,
       {Qt::Key_M},
       Tr("Mute"),
       Tr("Mute or unmute"),
       [](C& c, const S& s) { c.SetMuted(!s.muted()); }},
      {Id::kToStart,
       {Qt::Key_Home},
       Tr("Start"),
       Tr("Go back to the start"),
       [](C& c, const S&) { c.SeekTo(0); }},
      {Id::kPreviousCue,
       {Qt::Key_PageUp},
       Tr("Previous cue point"),
       Tr("Go to the file's previous cue point"),
       [](C& c, const S& s) {
         if (const auto at = cue_points::Previous(s.cuePoints(), s.position())) c.SeekTo(*at);
       }},
      {Id::kNextCue,
       {Qt::Key_PageDown},
       Tr("Next cue point"),
       Tr("Go to the file's next cue point"),
       [](C& c, const S& s) {
         if (const auto at = cue_points::Next(s.cuePoints(), s.position())) c.SeekTo(*at);
       }},
      {Id::kFileInfo,
       {Qt::Key_I},
       Tr("File information"),
       Tr("Show or hide what is known about the file (Esc hides it too)"),
       {},
       View::kFileInfo},
  };
}

}  // namespace

const QList<Action>& All() {
  static const QList<Action> actions = Build();
  return actions;
}

const Action& Get(Id id) {
  for (const Action& action : All()) {
    if (action.id == id) return action;
  }
  return All().constFirst();
}

const Action* ForKey(QKeyCombination key) {
  // The keypad's keys mean the same as the main ones.
  const QKeyCombination plain(key.keyboardModifiers() & ~Qt::KeypadModifier, key.key());
  for (const Action& action : All()) {
    if (action.keys.contains(plain)) return &action;
  }
  return nullptr;
}

QString KeyText(const Action& action) {
  QStringList keys;
  for (const QKeyCombination& key : action.keys) {
    keys << QKeySequence(key).toString(QKeySequence::NativeText);
  }
  return keys.join(QStringLiteral(", "));
}

QString Tooltip(const QString& label, Id id) {
  return QStringLiteral("%1 (%2)").arg(label, KeyText(Get(id)));
}

}  // namespace player_actions
