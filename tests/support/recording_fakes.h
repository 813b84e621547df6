#pragma once

#include <QSizeF>
#include <QStringList>
#include <functional>

#include "interfaces/common_dialog.h"
#include "interfaces/player_component.h"
#include "interfaces/runtime_services.h"

// Fakes that write every call into one shared journal, so a test can check
// the exact order of calls across the runtime, the player and the dialog.
struct Journal {
  QStringList calls;
  void Add(const QString& call) { calls << call; }
};

class FakeRuntime : public RuntimeServices {
 public:
  explicit FakeRuntime(Journal& j) : j_(j) {}
  QString command;
  QString appPath = QStringLiteral("/opt/tibrok");
  QSizeF outer{9630, 8235};
  std::function<void()> onMsgBox;

  void MsgBox(const QString& text) override {
    j_.Add("MsgBox(" + text + ")");
    if (onMsgBox) onMsgBox();
  }
  QString Command() const override { return command; }
  QString AppPath() const override { return appPath; }
  void ShowAboutModal() override { j_.Add("ShowAboutModal"); }
  void UnloadMainWindow() override { j_.Add("UnloadMainWindow"); }
  QSizeF MainWindowOuterSizeTwips() const override { return outer; }

 private:
  Journal& j_;
};

class FakePlayer : public PlayerComponent {
 public:
  explicit FakePlayer(Journal& j) : j_(j) {}
  void SetWidth(float twips) override { j_.Add(QStringLiteral("Width=%1").arg(twips)); }
  void SetHeight(float twips) override { j_.Add(QStringLiteral("Height=%1").arg(twips)); }
  void LoadMovie(int layer, const QString& path) override {
    j_.Add(QStringLiteral("LoadMovie(%1,%2)").arg(layer).arg(path));
  }
  void SetVariable(const QString& name, const QString& value) override {
    j_.Add("SetVariable(" + name + "," + value + ")");
  }

 private:
  Journal& j_;
};

class FakeTextBox : public TextBox {
 public:
  explicit FakeTextBox(Journal& j) : j_(j) {}
  QString text = QStringLiteral("Text1");
  void SetText(const QString& t) override {
    j_.Add("Text1=" + t);
    text = t;
  }
  QString Text() const override { return text; }

 private:
  Journal& j_;
};

class FakeDialog : public CommonDialog {
 public:
  explicit FakeDialog(Journal& j) : j_(j) {}
  // What the next ShowOpen "chooses"; empty means Cancel.
  QString choice;

  void SetDialogTitle(const QString& t) override { j_.Add("DialogTitle=" + t); }
  void SetFilter(const QString& f) override { j_.Add("Filter=" + f); }
  void ShowOpen() override {
    j_.Add("ShowOpen");
    fileName_ = choice;
  }
  QString FileName() const override { return fileName_; }

 private:
  Journal& j_;
  QString fileName_;
};
