#pragma once

#include <QMainWindow>
#include <memory>

#include "common_dialog.h"
#include "engine.h"
#include "form1_handlers.h"
#include "runtime_services.h"

class QAction;
class QLineEdit;
class QMenu;
class MpvPlayer;

// The main player window: a menu bar above a white client area that the
// player component covers. Widgets carry the names the handlers use, also as
// objectName, so tests can find them.
class Form1 : public QMainWindow {
  Q_OBJECT

 public:
  // `cd` replaces the window's own Open dialog and `engineFactory` the
  // player's video engine (tests pass fakes).
  explicit Form1(RuntimeServices& runtime, std::unique_ptr<CommonDialog> cd = nullptr,
                 engine::Factory engineFactory = {});
  ~Form1() override;

  // Runs the load handler; call before the first show.
  void Load();
  // Shows the window centred on its screen in the normal state.
  void ShowCentred();
  // Plays an address the way File > "Open File / URL" plays a choice.
  void PlayAddress(const QString& address);

  MpvPlayer* fl = nullptr;
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
