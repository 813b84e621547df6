#pragma once

#include <QMainWindow>
#include <memory>

#include "interfaces/common_dialog.h"
#include "interfaces/player_component.h"
#include "interfaces/runtime_services.h"
#include "player_window/form1_handlers.h"

class QAction;
class QLineEdit;
class QMenu;

// The main player window: a menu bar above a white client area that the
// player component covers. Widgets carry the names the handlers use, also as
// objectName, so tests can find them. The window hosts whatever player it is
// given and knows it only as a widget and a PlayerComponent.
class Form1 : public QMainWindow {
  Q_OBJECT

 public:
  // `player` becomes the child `fl`; `cd` replaces the window's own Open
  // dialog (tests pass fakes).
  Form1(RuntimeServices& runtime, HostedPlayer player, std::unique_ptr<CommonDialog> cd = nullptr);
  ~Form1() override;

  // Runs the load handler; call before the first show.
  void Load();
  // Shows the window centred on its screen in the normal state.
  void ShowCentred();
  // Plays an address the way File > "Open File / URL" plays a choice: the
  // program's one route for an address from anywhere (a drop on the player
  // area, the desktop).
  void PlayAddress(const QString& address);

  QWidget* fl = nullptr;
  QLineEdit* Text1 = nullptr;
  CommonDialog& CD() { return *cd_; }
  QMenu* file = nullptr;
  QMenu* help = nullptr;
  QAction* open = nullptr;
  QAction* exit = nullptr;
  QAction* about = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();

  std::unique_ptr<CommonDialog> cd_;
  std::unique_ptr<TextBox> text1Box_;
  std::unique_ptr<Form1Handlers> handlers_;
  // The outer size the player area was last sized for.
  QSize sizedForFrame_;
};
