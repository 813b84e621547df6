#include "app/command_line.h"

#include <QStringList>

#include "media/path_bytes.h"

QString CommandLineFromArgv(int argc, const char* const* argv) {
  QStringList words;
  for (int i = 1; i < argc; ++i) words << path_bytes::Decode(QByteArray(argv[i]));
  return words.join(QLatin1Char(' '));
}
