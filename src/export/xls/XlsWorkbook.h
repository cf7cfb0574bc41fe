#pragma once

#include "export/WorkbookSheet.h"

#include <string>
#include <vector>

namespace corvanta {

// Writes an Excel 97-2003 workbook (BIFF8 in a compound file) with one worksheet per
// sheet, every cell a text cell, in the results list's house style. Returns false and a
// readable reason in `error` when the file could not be written.
bool writeXlsWorkbook(const std::string& path, const std::vector<WorkbookSheet>& sheets,
                      std::string& error);

} // namespace corvanta
