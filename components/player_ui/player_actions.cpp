#include "player_ui/player_actions.h"

#include <QCoreApplication>
#include <QStringList>
#include <cmath>

#include "player_model/playback_state.h"
#include "player_model/player_commands.h"
#include "player_ui/cue_points.h"

namespace player_actions {
namespace {

QString Tr(const char* text) { return QCoreApplication::translate("player_actions", text); }

// Speeds keep two decimals, so that ten percent up and then down again is
// exactly where it started.
double Rounded(double factor) { return std::round(factor * 100) / 100; }

// Keys that type a character, as against Space, the arrows, F1 and the rest.
bool TypesCharacter(int key) { return key > Qt::Key_Space && key < Qt::Key_Escape; }

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
      {Id::kFrameForward,
       {Qt::Key_Period},
       Tr("Next frame"),
       Tr("One frame forward, paused"),
       [](C& c, const S&) { c.StepFrame(true); }},
      {Id::kFrameBack,
       {Qt::Key_Comma},
       Tr("Previous frame"),
       Tr("One frame back, paused"),
       [](C& c, const S&) { c.StepFrame(false); }},
      {Id::kFaster,
       {Qt::Key_BracketRight},
       Tr("Faster"),
       Tr("Play 10 % faster"),
       [](C& c, const S& s) { c.SetSpeed(Rounded(s.speed() * kSpeedStep)); }},
      {Id::kSlower,
       {Qt::Key_BracketLeft},
       Tr("Slower"),
       Tr("Play 10 % slower"),
       [](C& c, const S& s) { c.SetSpeed(Rounded(s.speed() / kSpeedStep)); }},
      {Id::kDoubleSpeed,
       {Qt::Key_BraceRight},
       Tr("Double speed"),
       Tr("Play twice as fast"),
       [](C& c, const S& s) { c.SetSpeed(s.speed() * 2); }},
      {Id::kHalfSpeed,
       {Qt::Key_BraceLeft},
       Tr("Half speed"),
       Tr("Play half as fast"),
       [](C& c, const S& s) { c.SetSpeed(s.speed() / 2); }},
      {Id::kNormalSpeed,
       {Qt::Key_Backspace},
       Tr("Normal speed"),
       Tr("Back to normal speed"),
       [](C& c, const S&) { c.SetSpeed(1); }},
      {Id::kCopyPicture,
       {QKeyCombination(Qt::ControlModifier, Qt::Key_C)},
       Tr("Copy picture"),
       Tr("Copy the picture to the clipboard"),
       [](C& c, const S&) { c.CopyPicture(); }},
      {Id::kHelp,
       {Qt::Key_Question, Qt::Key_F1},
       Tr("Keys"),
       Tr("Show or hide these keys (Esc hides them too)"),
       {},
       View::kHelp},
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
  // The keypad's keys mean the same as the main ones; the layout's group
  // switch (AltGr on some) is how a character is reached, not part of it.
  Qt::KeyboardModifiers modifiers =
      key.keyboardModifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
  if (TypesCharacter(key.key())) modifiers &= ~Qt::ShiftModifier;
  const QKeyCombination plain(modifiers, key.key());
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

QString SpeedText(double factor) {
  QString text = QString::number(factor, 'f', 2);
  while (text.endsWith(u'0')) text.chop(1);
  if (text.endsWith(u'.')) text.chop(1);
  return text + QChar(0x00d7);
}

}  // namespace player_actions
