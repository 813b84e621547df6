#include "qt/qt_common_dialog.h"

#include <QSettings>

#include "qt/address_file_dialog.h"

QtCommonDialog::QtCommonDialog() { KeepQtSettingsOffDisk(); }

void QtCommonDialog::SetDialogTitle(const QString& title) { title_ = title; }

void QtCommonDialog::SetFilter(const QString& filter) { filter_ = filter; }

void QtCommonDialog::ShowOpen() {
  AddressFileDialog dialog(title_);
  dialog.setObjectName(QStringLiteral("CD"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(ToQtNameFilters(filter_));
  dialog.setWindowModality(Qt::ApplicationModal);
  fileName_.clear();
  if (Run(dialog) == QDialog::Accepted) fileName_ = dialog.Choice();
}

QString QtCommonDialog::FileName() const { return fileName_; }

int QtCommonDialog::Run(QFileDialog& dialog) { return dialog.exec(); }

QStringList QtCommonDialog::ToQtNameFilters(const QString& filter) {
  QStringList result;
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QString patterns = parts[i + 1].trimmed();
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    // Qt reads the patterns from the last parentheses of a name filter.
    const QString suffix = QStringLiteral("(%1)").arg(patterns);
    result << (description.endsWith(suffix) ? description
                                            : description + QLatin1Char(' ') + suffix);
  }
  if (result.isEmpty()) result << QStringLiteral("All Files (*)");
  return result;
}

void KeepQtSettingsOffDisk() {
  // A path below /dev/null can never be created, so a save fails quietly.
  static const bool done = [] {
    for (auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
      QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
      QSettings::setPath(format, QSettings::SystemScope, QStringLiteral("/dev/null"));
    }
    return true;
  }();
  (void)done;
}
