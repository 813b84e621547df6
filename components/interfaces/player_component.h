#pragma once

#include <QString>

class QWidget;

// The player component hosted in the main window's client area.
//
// Promises:
// - SetWidth/SetHeight take twips; a negative value shows as an empty area and
//   never fails. The width is set before the height by every caller.
// - LoadMovie(0, path) replaces whatever plays in layer 0 with the movie file
//   at `path`. A movie that is missing or malformed puts a message in the
//   player area; the call itself never fails for it.
// - SetVariable(name, value) hands `value` to the loaded movie unchanged; the
//   player movie plays the address it receives in "myuri".
// - No call blocks the GUI thread on file or network I/O.
class PlayerComponent {
 public:
  virtual ~PlayerComponent() = default;
  virtual void SetWidth(float twips) = 0;
  virtual void SetHeight(float twips) = 0;
  virtual void LoadMovie(int layer, const QString& path) = 0;
  virtual void SetVariable(const QString& name, const QString& value) = 0;
};

// The player as a window hosts it: one object that is both the widget filling
// the window's client area and the component its handlers drive.
struct HostedPlayer {
  QWidget* widget = nullptr;
  PlayerComponent* component = nullptr;

  template <typename Player>
  static HostedPlayer Of(Player* player) {
    return {player, player};
  }
};
