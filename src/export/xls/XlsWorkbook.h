#pragma once

#include "export/WorkbookSheet.h"

#include <string>
#include <vector>

namespace corvanta {

// Writes an Excel 97-2003 workbook (BIFF8 in a compound file) with one worksheet per
// sheet, every cell a text cell, in the results list's house style. Returns false and a
// readable reason in `error` when the file could not be written.
//
// A sheet holds at most 65,536 rows (title row included) and 256 columns; a larger one
// is refused before anything is written. Sheet names are made valid for the format
// (forbidden characters become "_", at most 31 characters, unique). A text longer than
// the 32,767 characters a cell can hold is refused with the cell's name, never cut.
bool writeXlsWorkbook(const std::string& path, const std::vector<WorkbookSheet>& sheets,
                      std::string& error);

} // namespace corvanta
