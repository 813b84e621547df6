#pragma once

// Where the suites find the real-world FLV corpus, and what they do without
// it. A clone of the repository alone has no corpus beside it: a suite then
// skips what needs the corpus, says so in one line, and runs the rest. The
// folder is $TIBROK_CORPUS_DIR when that is set, else the one the build was
// configured with (../shared/corpus beside the repository). With
// $TIBROK_CORPUS_REQUIRED set, an absent corpus fails the suite instead: CI
// has the corpus and must not go green by skipping it.

#include <QString>
#include <QtTest>

namespace corpus {

// The corpus folder.
QString Dir();

// The path of `name` in the corpus folder.
QString File(const QString& name);

// Whether the corpus is there: its MANIFEST.tsv can be read. A corpus that
// is there but lacks a file it lists is a fault for the tests to report,
// not a reason to skip.
bool Present();

// Empty when the suite may go on: the corpus is present, or it is absent and
// not required. Otherwise why the suite must fail.
QString Missing();

// Once per process, when the corpus is absent: one line on stderr naming
// the suite, the folder looked in, what the suite leaves out (`skipped`)
// and how to get the corpus. scripts/test.sh collects these lines.
void TellAbsent(const QString& skipped);

}  // namespace corpus

// For a suite's initTestCase: fails when the corpus is required and absent,
// and says what the suite leaves out when it is absent.
#define TIBROK_CORPUS_INIT(skipped)                                       \
  do {                                                                    \
    QVERIFY2(corpus::Missing().isEmpty(), qPrintable(corpus::Missing())); \
    corpus::TellAbsent(skipped);                                          \
  } while (false)

// For a test function, a data function (the whole function is skipped) or
// initTestCase (the whole suite) that cannot run without the corpus.
#define TIBROK_NEEDS_CORPUS()                                                      \
  do {                                                                             \
    if (!corpus::Present()) QSKIP("needs the real-world corpus, which is absent"); \
  } while (false)
