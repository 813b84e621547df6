#include "run_time_error.h"

#include <QCoreApplication>

#include "message_box.h"

void ReportRunTimeError(const QString& what) {
  ShowTitledMessageBox(QStringLiteral("Run-time error: %1").arg(what), /*asError=*/true);
  QCoreApplication::exit(kRunTimeErrorStatus);
}
