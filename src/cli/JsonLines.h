#pragma once

// JSON Lines output: one object per row, to a file (replaced only when complete) or to
// standard output.

#include "export/TableExport.h"

#include <functional>
#include <ostream>
#include <string>

namespace corvanta {
class ResultsTable;
}

namespace corvanta::cli {

// Writes the lines that `write` produces to `path`, or to standard output for "-".
ExportResult writeJsonLines(const std::string& path,
                            const std::function<void(std::ostream&)>& write);

// A query row as one JSON object: keyword, pc, mobile, overall (the texts of the list),
// status ("ok" or the mark), reason, and with `trends` overall_yoy, overall_qoq, pc_yoy,
// pc_qoq, mobile_yoy, mobile_qoq.
std::string queryRowJson(const ResultsTable& table, int row, bool trends);

// Every row of the table, one line each.
void writeQueryRows(const ResultsTable& table, bool trends, std::ostream& out);

} // namespace corvanta::cli
