#pragma once

// `series`: every keyword's daily figures over a date range.

#include "cli/BatchCommands.h"

namespace corvanta::cli {

// Attempts per window of a series: a failed request (no answer, an empty key, a short
// series, another status) is asked again after a pause; a refused cookie, a request block
// or a keyword that is not indexed is not.
inline constexpr int kSeriesAttempts = 3;

// Fetches the series of every keyword of the file and writes OUT (.csv, .xlsx, .jsonl or
// "-"): one row per keyword and day (keyword, date, overall, PC, mobile), an empty figure
// left empty. A keyword that failed is named on standard error with its reason and leaves
// no rows. Ctrl-C stops, and what was fetched is still written.
int runSeriesCommand(const SeriesSettings& settings, const ReportOptions& report);

} // namespace corvanta::cli
