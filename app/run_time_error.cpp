#include "app/run_time_error.h"

#include <QCoreApplication>

#include "app/app_description.h"
#include "qt/message_box.h"

void ReportRunTimeError(const QString& what) {
  ShowTitledMessageBox(QString::fromLatin1(app::kTitle),
                       QStringLiteral("Run-time error: %1").arg(what),
                       /*asError=*/true);
  QCoreApplication::exit(kRunTimeErrorStatus);
}
