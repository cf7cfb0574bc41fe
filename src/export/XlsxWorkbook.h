#pragma once

#include "export/WorkbookSheet.h"

#include <string>
#include <vector>

namespace corvanta {

// Writes an Open XML workbook (.xlsx) with one worksheet per sheet, every value a text
// cell, in the results list's house style, streaming rows so that memory stays small
// whatever the sheet's length. Writes `path` directly; returns false and a readable
// reason in `error` when it could not.
bool writeXlsxWorkbook(const std::string& path, const std::vector<WorkbookSheet>& sheets,
                       std::string& error);

} // namespace corvanta
