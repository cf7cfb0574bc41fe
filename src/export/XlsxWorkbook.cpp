#include "export/XlsxWorkbook.h"

#include "export/CellText.h"
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

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The text as the file must hold it. The format writes characters XML cannot carry as
// "_xHHHH_", and readers decode every such sequence, so a literal one keeps its meaning
// only with its underscore written as "_x005F_"; U+FFFE and U+FFFF, which XML forbids,
// are written in that form too. (Control characters the library escapes itself.)
std::string storedText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
            isHexDigit(text[i + 2]) && isHexDigit(text[i + 3]) && isHexDigit(text[i + 4]) &&
            isHexDigit(text[i + 5])) {
            out += "_x005F_"; // the underscore, escaped; "x0041_" follows as it is
            continue;
        }
        if (text.compare(i, 3, "\xEF\xBF\xBE") == 0 || text.compare(i, 3, "\xEF\xBF\xBF") == 0) {
            out += text[i + 2] == '\xBE' ? "_xFFFE_" : "_xFFFF_";
            i += 2;
            continue;
        }
        out += text[i];
    }
    return out;
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
            sheetName_ = sheets.size() > 1 ? sheet.name : std::string();
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

    bool writeCell(lxw_worksheet* worksheet, int row, int column, const std::string& text,
                   lxw_format* format, std::string& error) const {
        const auto r = static_cast<lxw_row_t>(row);
        const auto c = static_cast<lxw_col_t>(column);
        if (const std::string problem = cellText::problem(text, true); !problem.empty()) {
            error = cellText::place(row, column, sheetName_) + " " + problem;
            return false;
        }
        const lxw_error result =
            text.empty()
                ? worksheet_write_blank(worksheet, r, c, format)
                : worksheet_write_string(worksheet, r, c, storedText(text).c_str(), format);
        if (result == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED) {
            // Within the limit, yet too long once written in the format's escapes.
            error = cellText::place(row, column, sheetName_) + " " +
                    cellText::problem(std::string(cellText::maxWorkbookUnits + 1, 'x'), true);
            return false;
        }
        if (result != LXW_NO_ERROR) {
            error = "Could not write " + cellText::place(row, column, sheetName_) + ": " +
                    lxw_strerror(result) + ".";
            return false;
        }
        return true;
    }

    lxw_workbook* workbook_ = nullptr;
    std::string sheetName_; // named in errors when the workbook has several sheets
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
