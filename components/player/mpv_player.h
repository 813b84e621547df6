#pragma once

#include <QWidget>
#include <memory>

#include "engine/engine.h"
#include "interfaces/player_component.h"
#include "player_model/playback_state.h"
#include "player_model/player_commands.h"

// The player area: a widget that shows the loaded movie and plays through
// the video engine. One engine for the widget's life, started by the first
// player movie (a start without a video pays nothing for it); a new movie
// or address stops or replaces playback on it. An engine that stops
// answering is left to end on its own and a fresh one takes its place. The
// seek bar's previews come from a second, small engine made by the same
// factory on the first hover over the bar and dropped with each file.
//
// Settings fixed for this component: window mode "Transparent" (where the
// movie draws nothing, the host window shows through; alpha in a video is
// composited onto white, the host window's colour), quality "High", scale
// mode "ShowAll" (the whole picture, aspect kept, centred), network access
// "all" (any host, over http(s) and the rtmp family), no full screen.
//
// A player movie draws its controls and indicators over the video and the
// area answers keys, the wheel, clicks and drops (components/player_ui).
// What plays is in State(); what may be asked of it is Commands().
//
// Movies (assets/movies/FORMAT.md) are read off the GUI thread: playback
// follows LoadMovie a moment later, announced by movieLoaded(). Only layer 0
// is shown; LoadMovie into another layer is accepted and ignored.
class MpvPlayer : public QWidget, public PlayerComponent {
  Q_OBJECT

 public:
  // `engineFactory` starts the video engine; empty means libmpv.
  explicit MpvPlayer(QWidget* parent = nullptr, engine::Factory engineFactory = {});
  ~MpvPlayer() override;

  void SetWidth(float twips) override;
  void SetHeight(float twips) override;
  void LoadMovie(int layer, const QString& path) override;
  void SetVariable(const QString& name, const QString& value) override;

  // Last values set through SetWidth/SetHeight, in twips.
  float Width() const;
  float Height() const;

  const PlaybackState& State() const;

  // The audio output driver for the engine, such as "null" on a machine (or
  // in a test) that should not probe sound devices. Empty means the engine's
  // own choice, with silent playback when no device works.
  void SetAudioOutput(const QString& driver);

  // Whether the engine exists yet: it is started by the first player movie.
  bool HasEngine() const;

  // What the on-screen controls, the keys and the desktop may ask of the
  // player. OpenAddress asks the program, through openRequested, to play an
  // address the way it plays the user's own choices.
  PlayerCommands& Commands();

 signals:
  // A LoadMovie has been read: the movie is in place, or the message says why not.
  void movieLoaded();
  void frameRendered();
  // A drop or the desktop asks for another address.
  void openRequested(const QString& address);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Mouse actions inside the player area are the player's own: they must not
  // reach the window underneath.
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  friend class PlayerProbe;
  struct Impl;
  std::unique_ptr<Impl> d_;
};
