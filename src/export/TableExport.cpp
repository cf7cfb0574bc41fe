#include "export/TableExport.h"

#include "export/FileReplacement.h"
#include "export/XlsxWorkbook.h"
#include "util/Platform.h"
#include "util/TextSearch.h"

#ifdef CORVANTA_HAVE_XLS
#include "export/xls/XlsWorkbook.h"
#endif

#include <algorithm>
#include <filesystem>
#include <memory>

namespace corvanta {

namespace {

enum class FileKind { Unknown, Text, Xls, Xlsx };

FileKind kindOf(const std::string& fileName) {
    const std::string extension =
        asciiLowercase(platform::utf8FromPath(platform::pathFromUtf8(fileName).extension()));
    if (extension == ".txt" || extension == ".csv")
        return FileKind::Text;
    if (extension == ".xls")
        return FileKind::Xls;
    if (extension == ".xlsx")
        return FileKind::Xlsx;
    return FileKind::Unknown;
}

ExportResult failure(std::string error) {
    return {false, std::move(error)};
}

bool writeWorkbook(FileKind kind, const std::string& path, const std::vector<WorkbookSheet>& sheets,
                   std::string& error) {
    if (kind == FileKind::Xlsx)
        return writeXlsxWorkbook(path, sheets, error);
#ifdef CORVANTA_HAVE_XLS
    return writeXlsWorkbook(path, sheets, error);
#else
    error = "This build cannot write .xls workbooks; choose .xlsx instead.";
    return false;
#endif
}

ExportResult exportWorkbook(FileKind kind, const ListSource& list, const std::string& fileName,
                            const std::string& titles, const ExportOptions& options) {
    std::vector<int> columnMap;
    buildColumnMap(list, titles, "|", columnMap);
    if (columnMap.empty())
        return failure("There are no columns to export.");
    const int formatRows = kind == FileKind::Xls ? xlsSheetRows : xlsxSheetRows;
    const int sheetRows =
        options.sheetRowLimit > 0 ? std::min(options.sheetRowLimit, formatRows) : formatRows;
    const bool titleRow = options.writeTitles.value_or(true);
    const std::vector<WorkbookSheet> sheets =
        workbookSheets(list, splitTitles(titles), columnMap, titleRow, sheetRows, options.progress);

    FileReplacement replacement(fileName);
    std::string error;
    if (!replacement.create(error))
        return failure(error);
    if (!writeWorkbook(kind, replacement.temporaryPath(), sheets, error)) {
        // The user knows the file by the name they chose, not by the temporary one.
        for (std::size_t at; (at = error.find(replacement.temporaryPath())) != std::string::npos;)
            error.replace(at, replacement.temporaryPath().size(), fileName);
        return failure(error.empty() ? "The workbook could not be written." : error);
    }
    if (!replacement.commit(error))
        return failure(error);
    return {true, {}};
}

} // namespace

std::vector<WorkbookSheet> workbookSheets(const ListSource& list,
                                          const std::vector<std::string>& titles,
                                          const std::vector<int>& columnMap, bool titleRow,
                                          int sheetRows, const ExportProgress& progress) {
    const int rows = list.rowCount();
    const int columns = static_cast<int>(columnMap.size());
    // A sheet must hold at least one list row besides its title row.
    const int perSheet = std::max(1, sheetRows - (titleRow ? 1 : 0));
    // Progress counts each list row once, when its first cell is read.
    auto reported = std::make_shared<int>(0);

    std::vector<WorkbookSheet> sheets;
    int first = 0;
    do {
        WorkbookSheet sheet;
        sheet.name = "Sheet" + std::to_string(sheets.size() + 1);
        if (titleRow)
            sheet.titles = titles;
        sheet.rowCount = std::min(perSheet, rows - first);
        sheet.columnCount = columns;
        sheet.cell = [&list, &columnMap, first, rows, progress, reported](int row, int column) {
            const int listRow = first + row;
            if (progress && column == 0 && listRow + 1 > *reported) {
                *reported = listRow + 1;
                progress(rows, listRow + 1);
            }
            const int listColumn = columnMap[static_cast<std::size_t>(column)];
            return listColumn >= 0 ? list.cellText(listRow, listColumn) : std::string();
        };
        sheets.push_back(std::move(sheet));
        first += perSheet;
    } while (first < rows);
    return sheets;
}

ExportResult exportTable(const ListSource& list, const std::string& fileName,
                         const std::string& titles, const ExportOptions& options) {
    const FileKind kind = kindOf(fileName);
    switch (kind) {
    case FileKind::Text: {
        std::string error;
        const int fields =
            writeListText(list, fileName, titles, options.separator.value_or("|"),
                          options.writeTitles.value_or(false), options.progress, error);
        return fields > 0 ? ExportResult{true, {}} : failure(error);
    }
    case FileKind::Xls:
    case FileKind::Xlsx:
        return exportWorkbook(kind, list, fileName, titles, options);
    case FileKind::Unknown:
        break;
    }
    return failure("\"" + platform::utf8FromPath(platform::pathFromUtf8(fileName).filename()) +
                   "\" is not a file type the list can be exported to; choose a name ending "
                   "in .txt, .csv, .xls or .xlsx.");
}

} // namespace corvanta
