#include "program.h"

#include <exception>

#include "application.h"
#include "form2.h"

Program::Program(const QString& command, const QString& appPath)
    : runtime_(command, appPath, [] { return std::make_unique<Form2>(); }), form_(runtime_) {
  runtime_.SetMainWindow(&form_);
}

bool Program::Start() {
  try {
    form_.Load();
  } catch (const std::exception& error) {
    Application::ReportRunTimeError(QString::fromUtf8(error.what()));
    return false;
  }
  form_.ShowCentred();
  return true;
}
