#include "support/corpus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace corpus {

QString Dir() {
  const QString named = qEnvironmentVariable("TIBROK_CORPUS_DIR");
  return QDir::cleanPath(named.isEmpty() ? QStringLiteral(TIBROK_CORPUS_DIR) : named);
}

QString File(const QString& name) { return QDir(Dir()).absoluteFilePath(name); }

bool Present() { return QFileInfo(File(QStringLiteral("MANIFEST.tsv"))).isReadable(); }

QString Missing() {
  if (Present() || qEnvironmentVariableIsEmpty("TIBROK_CORPUS_REQUIRED")) return {};
  return QStringLiteral(
             "the real-world corpus is required (TIBROK_CORPUS_REQUIRED) but %1 holds "
             "no MANIFEST.tsv")
      .arg(Dir());
}

void TellAbsent(const QString& skipped) {
  static bool told = false;
  if (told || Present()) return;
  told = true;
  // Straight to stderr, whole, not through the test log's formatting: the
  // line is meant to be found and read as it is.
  std::fprintf(stderr,
               "%s: the real-world corpus is absent (looked in %s); %s; bash "
               "scripts/fetch-corpus.sh fetches it, TIBROK_CORPUS_DIR names another folder\n",
               qPrintable(QCoreApplication::applicationName()), qPrintable(Dir()),
               qPrintable(skipped));
  std::fflush(stderr);
}

}  // namespace corpus
