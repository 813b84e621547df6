#pragma once

#include <QString>

#include "interfaces/common_dialog.h"
#include "interfaces/player_component.h"
#include "interfaces/runtime_services.h"

// The main window's event handlers, apart from the widgets they belong to.
// Each runs to its end on the GUI thread; the modal calls they make block them.
class Form1Handlers {
 public:
  Form1Handlers(RuntimeServices& runtime, PlayerComponent& fl, TextBox& text1, CommonDialog& cd);

  // Runs before the window is first shown.
  void Form_Load();
  void Form_Resize();
  void open_Click();
  void exit_Click();
  void about_Click();
  // `button` holds bit 1 for the left, 2 for the right, 4 for the middle button.
  void Form_MouseDown(int button);
  void Form_MouseUp(int button);

  // Plays `address` the one way the program plays a chosen address: the
  // player movie into layer 0, then the address in "myuri". Open, a drop on
  // the player area and the desktop's requests all come through here.
  void PlayAddress(const QString& address);

  static constexpr float kWidthMarginTwips = 30.0f;
  static constexpr float kHeightMarginTwips = 822.0f;

 private:
  void SizePlayerArea();
  QString MoviePath(const char* fileName) const;
  void AnswerDisabled(int button);

  RuntimeServices& runtime_;
  PlayerComponent& fl_;
  TextBox& text1_;
  CommonDialog& cd_;
};
