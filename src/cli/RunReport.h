#pragma once

// What the batch mode says about a run: progress, the summary and the results table.

#include "core/QueryEngine.h"

#include <array>
#include <string>

namespace corvanta {
class ResultsTable;
}

namespace corvanta::cli {

// How the rows of a table ended; a row without an outcome counts as not queried.
struct RowCounts {
    int rows = 0;
    std::array<int, kQueryStatusCount> byStatus{};

    int count(QueryStatus status) const { return byStatus[static_cast<std::size_t>(status)]; }
    int succeeded() const { return count(QueryStatus::Ok); }
    int failed() const { return rows - succeeded(); }
};

RowCounts countRows(const ResultsTable& table);

// The live line of a terminal: a bar, done/total, failures, rate and time left.
std::string progressBar(const RunProgress& progress, double elapsedSeconds);
// The line written every few seconds when standard error is not a terminal.
std::string progressLine(const RunProgress& progress, double elapsedSeconds);
// The run's last line: rows, succeeded, every failure mark with its count, elapsed time.
std::string summaryLine(const RowCounts& counts, double elapsedSeconds, bool interrupted);
// What to do about the failures that a user can act on, one line each; empty when none.
std::string failureAdvice(const RowCounts& counts);

// The rows as an aligned table for a terminal: number, keyword, PC, mobile, overall.
std::string resultsTable(const ResultsTable& table);

} // namespace corvanta::cli
