#include "export/XlsxWorkbook.h"

#include "export/WorkbookStyle.h"
#include "util/Utf8.h"

#include <cerrno>
#include <xlsxwriter.h>

namespace corvanta {

namespace {

lxw_color_t libraryColor(unsigned rgb) {
    // The library reads 0 as "no colour"; black has its own value.
    return rgb == 0 ? static_cast<lxw_color_t>(LXW_COLOR_BLACK) : static_cast<lxw_color_t>(rgb);
}

lxw_format* cellFormat(lxw_workbook* workbook, bool title) {
    lxw_format* format = workbook_add_format(workbook);
    format_set_font_name(format, workbookStyle::fontName);
    format_set_font_size(format, workbookStyle::fontSize);
    format_set_font_color(
        format, libraryColor(title ? workbookStyle::titleFontColor : workbookStyle::fontColor));
    format_set_align(format, LXW_ALIGN_CENTER);
    format_set_align(format, LXW_ALIGN_VERTICAL_CENTER);
    format_set_border(format, LXW_BORDER_THIN);
    format_set_border_color(format, libraryColor(workbookStyle::borderColor));
    format_set_num_format(format, "@"); // text, also for what is typed in later
    if (title) {
        format_set_pattern(format, LXW_PATTERN_SOLID);
        format_set_bg_color(format, libraryColor(workbookStyle::titleFillColor));
    }
    return format;
}

// The library stages worksheet data in temporary files without checking those writes, so
// a full disk would give a cut-off workbook that it reports as saved. A failed write
// leaves one of these in errno, which no other call sets; errno is per thread.
bool stagingWriteFailed() {
    return errno == ENOSPC || errno == EFBIG || errno == EIO
#ifdef EDQUOT
           || errno == EDQUOT
#endif
        ;
}

std::string cellName(int row, int column) {
    char name[16];
    lxw_rowcol_to_cell(name, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column));
    return name;
}

class WorkbookWriter {
public:
    explicit WorkbookWriter(const std::string& path) {
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        workbook_ = workbook_new_opt(path.c_str(), &options);
    }
    ~WorkbookWriter() {
        if (workbook_ != nullptr)
            workbook_close(workbook_); // after a failure: frees it; the caller drops the file
    }
    WorkbookWriter(const WorkbookWriter&) = delete;
    WorkbookWriter& operator=(const WorkbookWriter&) = delete;

    bool write(const std::vector<WorkbookSheet>& sheets, std::string& error) {
        if (workbook_ == nullptr) {
            error = "Could not start the workbook (out of memory).";
            return false;
        }
        errno = 0;
        cellFormat_ = cellFormat(workbook_, false);
        titleFormat_ = cellFormat(workbook_, true);
        if (sheets.empty()) {
            WorkbookSheet empty;
            empty.name = "Sheet1";
            if (!writeSheet(empty, error))
                return false;
        }
        for (const WorkbookSheet& sheet : sheets) {
            if (!writeSheet(sheet, error))
                return false;
        }
        const lxw_error closed = workbook_close(workbook_);
        workbook_ = nullptr;
        if (stagingWriteFailed()) {
            error = stagingError();
            return false;
        }
        if (closed != LXW_NO_ERROR) {
            error = std::string("Could not save the workbook: ") + lxw_strerror(closed) + ".";
            return false;
        }
        return true;
    }

private:
    bool writeSheet(const WorkbookSheet& sheet, std::string& error) {
        const bool titled = !sheet.titles.empty();
        const int columns = std::max(sheet.columnCount, static_cast<int>(sheet.titles.size()));
        const int rows = sheet.rowCount + (titled ? 1 : 0);
        if (columns > LXW_COL_MAX || rows > static_cast<int>(LXW_ROW_MAX)) {
            error = "The sheet \"" + sheet.name + "\" is larger than a workbook sheet can hold.";
            return false;
        }
        lxw_worksheet* worksheet =
            workbook_add_worksheet(workbook_, sheet.name.empty() ? nullptr : sheet.name.c_str());
        if (worksheet == nullptr) {
            error = "The sheet name \"" + sheet.name + "\" cannot be used in a workbook.";
            return false;
        }
        // Formats on the columns and a default row height reach every cell of the sheet,
        // also the ones never written. The library counts formatted columns into the
        // sheet's stored dimension, which readers that trust it (streaming readers) would
        // take for 16,384 used columns; the dimension keeps to the written cells instead.
        worksheet_set_default_row(worksheet, workbookStyle::rowHeightPoints, LXW_FALSE);
        const lxw_col_t usedColumnMin = worksheet->dim_colmin;
        const lxw_col_t usedColumnMax = worksheet->dim_colmax;
        if (columns > 0) {
            worksheet_set_column(worksheet, 0, static_cast<lxw_col_t>(columns - 1),
                                 titled ? workbookStyle::titledColumnWidth : LXW_DEF_COL_WIDTH,
                                 cellFormat_);
        }
        if (columns < LXW_COL_MAX) {
            worksheet_set_column(worksheet, static_cast<lxw_col_t>(columns), LXW_COL_MAX - 1,
                                 LXW_DEF_COL_WIDTH, cellFormat_);
        }
        worksheet->dim_colmin = usedColumnMin;
        worksheet->dim_colmax = usedColumnMax;

        int row = 0;
        if (titled) {
            for (int column = 0; column < columns; ++column) {
                const std::string text =
                    column < static_cast<int>(sheet.titles.size()) ? sheet.titles[column] : "";
                if (!writeCell(worksheet, row, column, text, titleFormat_, error))
                    return false;
            }
            ++row;
        }
        for (int r = 0; r < sheet.rowCount; ++r, ++row) {
            for (int column = 0; column < sheet.columnCount; ++column) {
                const std::string text = sheet.cell ? sheet.cell(r, column) : std::string();
                if (!writeCell(worksheet, row, column, text, cellFormat_, error))
                    return false;
            }
            if (stagingWriteFailed()) {
                error = stagingError();
                return false;
            }
        }
        return true;
    }

    static std::string stagingError() {
        switch (errno) {
        case EIO:
            return "The workbook could not be written: the drive reported an error.";
        case EFBIG:
            return "The workbook would be larger than the drive allows for one file.";
        default:
            return "The disk is full: the workbook could not be written.";
        }
    }

    static bool writeCell(lxw_worksheet* worksheet, int row, int column, const std::string& text,
                          lxw_format* format, std::string& error) {
        const auto r = static_cast<lxw_row_t>(row);
        const auto c = static_cast<lxw_col_t>(column);
        if (!utf8::isValid(text)) {
            error = "Cell " + cellName(row, column) + " holds text that is not valid UTF-8.";
            return false;
        }
        const lxw_error result =
            text.empty() ? worksheet_write_blank(worksheet, r, c, format)
                         : worksheet_write_string(worksheet, r, c, text.c_str(), format);
        if (result == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED) {
            error = "Cell " + cellName(row, column) +
                    " holds more than 32,767 characters, more than a workbook cell can hold.";
            return false;
        }
        if (result != LXW_NO_ERROR) {
            error =
                "Could not write cell " + cellName(row, column) + ": " + lxw_strerror(result) + ".";
            return false;
        }
        return true;
    }

    lxw_workbook* workbook_ = nullptr;
    lxw_format* cellFormat_ = nullptr;
    lxw_format* titleFormat_ = nullptr;
};

} // namespace

bool writeXlsxWorkbook(const std::string& path, const std::vector<WorkbookSheet>& sheets,
                       std::string& error) {
    WorkbookWriter writer(path);
    return writer.write(sheets, error);
}

} // namespace corvanta
