#pragma once

// The batch mode's commands over the core engine.

#include "cli/QueryArguments.h"

#include <string>

namespace corvanta::cli {

// The process's exit codes.
enum ExitCode : int {
    ExitAllSucceeded = 0,
    ExitSomeFailed = 1,   // some rows failed; a cookie that is not accepted
    ExitBadInput = 2,     // bad usage or input, found before any request
    ExitNotWritten = 3,   // the output file could not be written
    ExitInterrupted = 130 // stopped by Ctrl-C (or SIGTERM); the output holds what was fetched
};

struct ReportOptions {
    double progressEvery = 5.0; // seconds between progress lines off a terminal; 0: none
    bool table = false;         // the results table on standard output even off a terminal
};

// `query`: imports the keywords, queries every row and writes the output, reporting on
// standard error. Ctrl-C stops the run, and the output is still written.
int runQueryCommand(const QuerySettings& settings, const ReportOptions& report);

// `test-cookie`: the cookie test's messages on standard output.
int runTestCookieCommand(const std::string& base, const std::string& cookie);

} // namespace corvanta::cli
