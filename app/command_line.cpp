#include "command_line.h"

#include <QStringList>

QString CommandLineFromArgv(int argc, const char* const* argv) {
  QStringList words;
  for (int i = 1; i < argc; ++i) words << QString::fromLocal8Bit(argv[i]);
  return words.join(QLatin1Char(' '));
}
