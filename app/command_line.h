#pragma once

#include <QString>

// The command line as one string: the arguments after the program's name
// joined with single spaces, each decoded from the locale's encoding and
// otherwise untouched (no unquoting, no trimming).
QString CommandLineFromArgv(int argc, const char* const* argv);
