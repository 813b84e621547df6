#pragma once

#include <QString>

// The command line as one string: the arguments after the program's name
// joined with single spaces, each decoded as UTF-8 and otherwise untouched
// (no unquoting, no trimming). Bytes that are not UTF-8 (a file name in
// another encoding) survive the trip: path_bytes.h turns them back into the
// same bytes when the name is opened.
QString CommandLineFromArgv(int argc, const char* const* argv);
