#pragma once

// The export button's core: what the save dialog offers and the export of the results.

#include "export/TableExport.h"

#include <string>

namespace corvanta {

class ResultsTable;

// The columns written, in this order.
inline constexpr const char* kExportTitles = "关键词|PC指数|移动指数|总指数";
// The columns written after them for a table with trend columns.
inline constexpr const char* kExportTrendTitles =
    "总指数同比|总指数环比|PC同比|PC环比|移动同比|移动环比";

// The save dialog's file types: description and pattern pairs joined by "|".
inline constexpr const char* kExportFilter =
    "文本文档(*.txt)|*.txt|逗号分隔符(*.CSV)|*.csv|Excel 97-2003 工作簿(*.xls)|*.xls|"
    "Excel 工作簿(*.xlsx)|*.xlsx|所有文件(*.*)|*.*";

// The file name the save dialog offers: the date and time as fourteen digits, then
// "Bramble指数查询".
std::string defaultExportFileName();

// Writes the keyword and the three averages of every row to `path`, by its extension, then
// the six trends when the table has trend columns.
ExportResult exportResults(const ResultsTable& table, const std::string& path);

} // namespace corvanta
