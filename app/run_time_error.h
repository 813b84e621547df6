#pragma once

#include <QString>

// The run-time error report: an error that escapes a handler is shown in a
// box captioned with the application title, and the event loop is asked to
// end with kRunTimeErrorStatus.
void ReportRunTimeError(const QString& what);

inline constexpr int kRunTimeErrorStatus = 2;
