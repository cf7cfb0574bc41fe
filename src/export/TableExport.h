#pragma once

#include "export/ListSource.h"
#include "export/ListText.h"
#include "export/WorkbookSheet.h"
#include "export/WorkbookStyle.h"

#include <optional>
#include <string>
#include <vector>

namespace corvanta {

struct ExportOptions {
    // Written after every field of a text file; absent: "|". Workbooks keep fields in cells.
    std::optional<std::string> separator;
    // Whether the titles come first; absent: not in .txt/.csv files, a title row in workbooks.
    std::optional<bool> writeTitles;
    ExportProgress progress;
    // Rows a worksheet may hold, title row included, before the list continues on the next
    // sheet; 0 means the format's own limit.
    int sheetRowLimit = 0;
};

struct ExportResult {
    bool ok = false;
    std::string error; // a reason the user can read when !ok
};

// Rows a worksheet can hold, title row included.
inline constexpr int xlsSheetRows = workbookStyle::xlsSheetRows;
inline constexpr int xlsxSheetRows = workbookStyle::xlsxSheetRows;

// Writes the list's columns named by `titles` ("|"-joined) to `fileName`, as text for .txt
// and .csv and as a workbook for .xls and .xlsx (extension in any letter case). An existing
// file is replaced only when the new one is complete.
ExportResult exportTable(const ListSource& list, const std::string& fileName,
                         const std::string& titles, const ExportOptions& options = {});

// The worksheets of a workbook export: the list's rows through columnMap (-1: an empty
// field), cut into sheets of at most `sheetRows` rows each, title row included, every
// sheet starting with the title row when `titleRow`. At least one sheet. The sheets read
// `list` and `columnMap` when written, so both must outlive them.
std::vector<WorkbookSheet> workbookSheets(const ListSource& list,
                                          const std::vector<std::string>& titles,
                                          const std::vector<int>& columnMap, bool titleRow,
                                          int sheetRows, const ExportProgress& progress = {});

} // namespace corvanta
