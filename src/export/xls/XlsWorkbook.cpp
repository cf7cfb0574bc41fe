#include "export/xls/XlsWorkbook.h"

#include "export/CellText.h"
#include "export/WorkbookStyle.h"
#include "export/xls/BiffBuffer.h"
#include "export/xls/CompoundFile.h"
#include "export/xls/SharedStrings.h"
#include "export/xls/Utf16.h"

#include <algorithm>
#include <exception>
#include <new>
#include <stdexcept>

namespace corvanta {

namespace {

using xls::BiffBuffer;

constexpr int maxRows = workbookStyle::xlsSheetRows;
constexpr int maxColumns = 256;
constexpr std::size_t maxSheetNameLength = 31;
constexpr int rowsPerBlock = 32;

namespace record {
constexpr std::uint16_t bof = 0x0809;
constexpr std::uint16_t eof = 0x000A;
constexpr std::uint16_t interfaceHdr = 0x00E1;
constexpr std::uint16_t mms = 0x00C1;
constexpr std::uint16_t interfaceEnd = 0x00E2;
constexpr std::uint16_t writeAccess = 0x005C;
constexpr std::uint16_t codePage = 0x0042;
constexpr std::uint16_t dsf = 0x0161;
constexpr std::uint16_t tabId = 0x013D;
constexpr std::uint16_t fnGroupCount = 0x009C;
constexpr std::uint16_t windowProtect = 0x0019;
constexpr std::uint16_t protect = 0x0012;
constexpr std::uint16_t password = 0x0013;
constexpr std::uint16_t prot4Rev = 0x01AF;
constexpr std::uint16_t prot4RevPass = 0x01BC;
constexpr std::uint16_t window1 = 0x003D;
constexpr std::uint16_t backup = 0x0040;
constexpr std::uint16_t hideObj = 0x008D;
constexpr std::uint16_t date1904 = 0x0022;
constexpr std::uint16_t calcPrecision = 0x000E;
constexpr std::uint16_t refreshAll = 0x01B7;
constexpr std::uint16_t bookBool = 0x00DA;
constexpr std::uint16_t font = 0x0031;
constexpr std::uint16_t xf = 0x00E0;
constexpr std::uint16_t style = 0x0293;
constexpr std::uint16_t useSelfs = 0x0160;
constexpr std::uint16_t boundSheet = 0x0085;
constexpr std::uint16_t calcMode = 0x000D;
constexpr std::uint16_t calcCount = 0x000C;
constexpr std::uint16_t refMode = 0x000F;
constexpr std::uint16_t iteration = 0x0011;
constexpr std::uint16_t defaultRowHeight = 0x0225;
constexpr std::uint16_t wsBool = 0x0081;
constexpr std::uint16_t defColWidth = 0x0055;
constexpr std::uint16_t colInfo = 0x007D;
constexpr std::uint16_t dimensions = 0x0200;
constexpr std::uint16_t row = 0x0208;
constexpr std::uint16_t labelSst = 0x00FD;
constexpr std::uint16_t window2 = 0x023E;
} // namespace record

// The house style of the results list, in the units of the format.
constexpr auto rowHeightTwips = static_cast<std::uint16_t>(workbookStyle::rowHeightPoints * 20);
constexpr auto fontHeightTwips = static_cast<std::uint16_t>(workbookStyle::fontSize * 20);
constexpr auto listColumnWidth = static_cast<std::uint16_t>(
    workbookStyle::storedColumnWidth256(workbookStyle::titledColumnWidth));
constexpr auto otherColumnWidth = static_cast<std::uint16_t>(
    workbookStyle::storedColumnWidth256(workbookStyle::otherColumnWidth));

// Colour indexes into the standard BIFF8 palette.
constexpr std::uint16_t colourBlack = 8;
constexpr std::uint16_t colourWhite = 9;
constexpr std::uint16_t colourGreen = 17; // 0x008000
static_assert(workbookStyle::fontColor == 0x000000 && workbookStyle::titleFontColor == 0xFFFFFF &&
                  workbookStyle::titleFillColor == 0x008000 && workbookStyle::borderColor == 0,
              "the palette indexes below stand for the workbook style's colours");
constexpr std::uint16_t colourAutomaticFore = 64;
constexpr std::uint16_t colourAutomaticBack = 65;

// Font indexes; index 4 does not exist in BIFF, so the fifth FONT record is font 5.
constexpr std::uint16_t fontBlack = 0;
constexpr std::uint16_t fontWhite = 5;

// The 16 XFs every workbook starts with, then the cell formats of the list.
constexpr std::uint16_t xfDefaultCell = 15;
constexpr std::uint16_t xfListCell = 16;  // bordered, centred, text format
constexpr std::uint16_t xfTitleCell = 17; // as xfListCell, white on green
constexpr std::uint16_t xfOtherCell = 18; // bordered, centred, general format

constexpr std::uint16_t formatGeneral = 0;
constexpr std::uint16_t formatText = 49; // "@"

void writeBof(BiffBuffer& out, std::uint16_t kind) {
    const auto start = out.beginRecord(record::bof);
    out.u16(0x0600); // BIFF8
    out.u16(kind);
    out.u16(0x0DBB); // build
    out.u16(0x07CC); // year
    out.u32(0x00000041);
    out.u32(0x00000006);
    out.endRecord(start);
}

void writeSimple(BiffBuffer& out, std::uint16_t type, std::uint16_t value) {
    const auto start = out.beginRecord(type);
    out.u16(value);
    out.endRecord(start);
}

void writeEmpty(BiffBuffer& out, std::uint16_t type) {
    out.endRecord(out.beginRecord(type));
}

void writeFont(BiffBuffer& out, std::uint16_t colour) {
    const std::u16string name = xls::utf8ToUtf16(workbookStyle::fontName);
    const auto start = out.beginRecord(record::font);
    out.u16(fontHeightTwips);
    out.u16(0); // not italic, not struck out
    out.u16(colour);
    out.u16(400); // normal weight
    out.u16(0);   // no super- or subscript
    out.u8(0);    // no underline
    out.u8(0);    // family
    out.u8(0x86); // GB2312 character set
    out.u8(0);
    out.u8(static_cast<std::uint8_t>(name.size()));
    out.u8(0x01); // UTF-16
    out.utf16(name, false);
    out.endRecord(start);
}

struct CellFormat {
    std::uint16_t font = 0;
    std::uint16_t format = formatGeneral;
    bool isStyle = false;
    bool centred = false;
    bool bordered = false;
    std::uint16_t fill = 0; // palette index of a solid fill, 0 for none
};

void writeXf(BiffBuffer& out, const CellFormat& format) {
    const auto start = out.beginRecord(record::xf);
    out.u16(format.font);
    out.u16(format.format);
    // Locked; a style XF has no parent (0xFFF), a cell XF's parent is the Normal style.
    out.u16(format.isStyle ? 0xFFF5 : 0x0001);
    // Horizontal centre (2) and vertical centre (1), or the default bottom alignment.
    out.u8(format.centred ? 0x12 : 0x20);
    out.u8(0); // no rotation
    out.u8(0); // no indent
    // A cell XF sets every attribute group itself instead of taking it from its style.
    out.u8(format.isStyle ? 0x00 : 0xFC);
    if (format.bordered) {
        constexpr std::uint32_t thin = 1;
        out.u32(thin | thin << 4 | thin << 8 | thin << 12 | std::uint32_t{colourBlack} << 16 |
                std::uint32_t{colourBlack} << 23);
        out.u32(std::uint32_t{colourBlack} | std::uint32_t{colourBlack} << 7 |
                (format.fill != 0 ? 1u << 26 : 0u));
    } else {
        out.u32(0);
        out.u32(format.fill != 0 ? 1u << 26 : 0u);
    }
    const std::uint16_t fore = format.fill != 0 ? format.fill : colourAutomaticFore;
    out.u16(static_cast<std::uint16_t>(fore | colourAutomaticBack << 7));
    out.endRecord(start);
}

// Sheet names must be 1 to 31 characters, free of : \ / ? * [ ], not start or end with
// an apostrophe, and unique regardless of letter case.
std::u16string sheetName(const std::string& wanted, std::size_t position,
                         const std::vector<std::u16string>& taken) {
    std::u16string name = xls::utf8ToUtf16(wanted);
    for (char16_t& unit : name) {
        if (unit < 0x20 || std::u16string_view(u":\\/?*[]").find(unit) != std::u16string::npos) {
            unit = u'_';
        }
    }
    while (!name.empty() && name.front() == u'\'') {
        name.erase(0, 1);
    }
    while (!name.empty() && name.back() == u'\'') {
        name.pop_back();
    }
    if (name.empty()) {
        name = xls::utf8ToUtf16("Sheet" + std::to_string(position + 1));
    }
    auto fold = [](std::u16string text) {
        for (char16_t& unit : text) {
            if (unit >= u'A' && unit <= u'Z') {
                unit = static_cast<char16_t>(unit - u'A' + u'a');
            }
        }
        return text;
    };
    auto cut = [](std::u16string text, std::size_t length) {
        if (text.size() > length) {
            text.resize(length);
            if (text.back() >= 0xD800 && text.back() <= 0xDBFF) {
                text.pop_back();
            }
        }
        return text;
    };
    auto isTaken = [&](const std::u16string& candidate) {
        return std::any_of(taken.begin(), taken.end(), [&](const std::u16string& other) {
            return fold(other) == fold(candidate);
        });
    };
    std::u16string result = cut(name, maxSheetNameLength);
    for (int copy = 2; isTaken(result); ++copy) {
        const std::u16string suffix = xls::utf8ToUtf16(" (" + std::to_string(copy) + ")");
        result = cut(name, maxSheetNameLength - suffix.size()) + suffix;
    }
    return result;
}

struct SheetLayout {
    int titleRows = 0;
    int columns = 0; // formatted and titled columns
    int rows = 0;    // title row included
};

std::string describe(const WorkbookSheet& sheet, std::size_t position) {
    return "Sheet " + std::to_string(position + 1) + " (\"" + sheet.name + "\")";
}

bool checkSheet(const WorkbookSheet& sheet, std::size_t position, SheetLayout& layout,
                std::string& error) {
    if (sheet.rowCount < 0 || sheet.columnCount < 0) {
        error = describe(sheet, position) + " has a negative row or column count.";
        return false;
    }
    layout.titleRows = sheet.titles.empty() ? 0 : 1;
    // Titles beyond the data columns are still written, so they count as columns too.
    if (sheet.titles.size() > static_cast<std::size_t>(maxColumns)) {
        layout.columns = maxColumns + 1;
    } else {
        layout.columns = std::max(sheet.columnCount, static_cast<int>(sheet.titles.size()));
    }
    if (layout.columns > maxColumns) {
        error =
            describe(sheet, position) + " has more than 256 columns, the limit of an .xls sheet.";
        return false;
    }
    if (sheet.rowCount > maxRows - layout.titleRows) {
        error = describe(sheet, position) + " has " + std::to_string(sheet.rowCount) +
                " rows; an .xls sheet holds at most " + std::to_string(maxRows) +
                " rows including the title row.";
        return false;
    }
    layout.rows = layout.titleRows + sheet.rowCount;
    if (sheet.rowCount > 0 && sheet.columnCount > 0 && !sheet.cell) {
        error = describe(sheet, position) + " has rows but nothing supplies their cells.";
        return false;
    }
    return true;
}

void writeRowRecord(BiffBuffer& out, int rowIndex, int columns) {
    const auto start = out.beginRecord(record::row);
    out.u16(static_cast<std::uint16_t>(rowIndex));
    out.u16(0);
    out.u16(static_cast<std::uint16_t>(columns));
    out.u16(rowHeightTwips);
    out.u16(0);
    out.u16(0);
    out.u16(0x0140); // height set by the user; the reserved bit that must be 1
    out.u16(xfDefaultCell);
    out.endRecord(start);
}

void writeTextCell(BiffBuffer& out, int rowIndex, int column, std::uint16_t xfIndex,
                   std::uint32_t stringIndex) {
    const auto start = out.beginRecord(record::labelSst);
    out.u16(static_cast<std::uint16_t>(rowIndex));
    out.u16(static_cast<std::uint16_t>(column));
    out.u16(xfIndex);
    out.u32(stringIndex);
    out.endRecord(start);
}

// Thrown when a cell's text cannot be stored; what() is the sentence to report.
struct CellRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The shared-string index of a cell's text; a text the cell cannot hold (not UTF-8, or
// longer than a cell) ends the export rather than being changed or cut short.
std::uint32_t cellString(xls::SharedStrings& strings, std::string text, int row, int column,
                         const std::string& sheetName) {
    std::string problem = cellText::problem(text, true);
    if (problem.empty()) {
        if (const auto index = strings.add(std::move(text)))
            return *index;
        problem = cellText::problem(std::string(xls::maxCellCharacters + 1, 'x'), true);
    }
    throw CellRefused(cellText::place(row, column, sheetName) + " " + problem);
}

void writeWorksheet(BiffBuffer& out, const WorkbookSheet& sheet, const SheetLayout& layout,
                    bool selected, xls::SharedStrings& strings, const std::string& shownName) {
    writeBof(out, 0x0010);
    writeSimple(out, record::calcMode, 1);
    writeSimple(out, record::calcCount, 100);
    writeSimple(out, record::refMode, 1);
    writeSimple(out, record::iteration, 0);

    auto start = out.beginRecord(record::defaultRowHeight);
    out.u16(0x0001); // the default height differs from the font's natural height
    out.u16(rowHeightTwips);
    out.endRecord(start);
    writeSimple(out, record::wsBool, 0x04C1);
    writeSimple(out, record::defColWidth, 8);

    // Every column carries the bordered, centred format, so empty cells show it too.
    auto writeColumns = [&](int first, int last, std::uint16_t width, std::uint16_t xfIndex,
                            std::uint16_t flags) {
        const auto colStart = out.beginRecord(record::colInfo);
        out.u16(static_cast<std::uint16_t>(first));
        out.u16(static_cast<std::uint16_t>(last));
        out.u16(width);
        out.u16(xfIndex);
        out.u16(flags);
        out.u16(0);
        out.endRecord(colStart);
    };
    if (layout.columns > 0) {
        writeColumns(0, layout.columns - 1, listColumnWidth, xfListCell, 0x0002);
    }
    if (layout.columns < maxColumns) {
        writeColumns(layout.columns, maxColumns - 1, otherColumnWidth, xfOtherCell, 0);
    }

    start = out.beginRecord(record::dimensions);
    out.u32(0);
    out.u32(static_cast<std::uint32_t>(layout.rows));
    out.u16(0);
    out.u16(static_cast<std::uint16_t>(layout.columns));
    out.u16(0);
    out.endRecord(start);

    // Rows in blocks of 32: the ROW records of a block, then the block's cells.
    for (int blockStart = 0; blockStart < layout.rows; blockStart += rowsPerBlock) {
        const int blockEnd = std::min(layout.rows, blockStart + rowsPerBlock);
        for (int r = blockStart; r < blockEnd; ++r) {
            writeRowRecord(out, r, layout.columns);
        }
        for (int r = blockStart; r < blockEnd; ++r) {
            if (r < layout.titleRows) {
                for (std::size_t c = 0; c < sheet.titles.size(); ++c) {
                    writeTextCell(
                        out, r, static_cast<int>(c), xfTitleCell,
                        cellString(strings, sheet.titles[c], r, static_cast<int>(c), shownName));
                }
                continue;
            }
            for (int c = 0; c < sheet.columnCount; ++c) {
                std::string text = sheet.cell(r - layout.titleRows, c);
                // An empty field stays an empty cell, formatted by its column.
                if (!text.empty()) {
                    writeTextCell(out, r, c, xfListCell,
                                  cellString(strings, std::move(text), r, c, shownName));
                }
            }
        }
    }

    start = out.beginRecord(record::window2);
    // Gridlines, headers, zeros, outline symbols, automatic grid colour; the first sheet
    // is the selected and shown one.
    out.u16(selected ? 0x06B6 : 0x00B6);
    out.u16(0);
    out.u16(0);
    out.u16(64);
    out.u16(0);
    out.u16(0);
    out.u16(0);
    out.u32(0);
    out.endRecord(start);
    writeEmpty(out, record::eof);
}

void writeGlobals(BiffBuffer& out, const std::vector<std::u16string>& names,
                  std::vector<std::size_t>& sheetOffsetFields, const xls::SharedStrings& strings) {
    writeBof(out, 0x0005);
    writeSimple(out, record::interfaceHdr, 1200);
    writeSimple(out, record::mms, 0);
    writeEmpty(out, record::interfaceEnd);

    auto start = out.beginRecord(record::writeAccess);
    const std::u16string_view user = u"Corvanta";
    out.u16(static_cast<std::uint16_t>(user.size()));
    out.u8(0);
    out.utf16(user, true);
    // The name is padded with spaces to the record's fixed 112 bytes.
    while (out.size() - start < 112) {
        out.u8(' ');
    }
    out.endRecord(start);

    writeSimple(out, record::codePage, 1200); // UTF-16
    writeSimple(out, record::dsf, 0);
    start = out.beginRecord(record::tabId);
    for (std::size_t i = 0; i < names.size(); ++i) {
        out.u16(static_cast<std::uint16_t>(i + 1));
    }
    out.endRecord(start);
    writeSimple(out, record::fnGroupCount, 14);
    writeSimple(out, record::windowProtect, 0);
    writeSimple(out, record::protect, 0);
    writeSimple(out, record::password, 0);
    writeSimple(out, record::prot4Rev, 0);
    writeSimple(out, record::prot4RevPass, 0);

    start = out.beginRecord(record::window1);
    out.u16(0x0168);
    out.u16(0x001E);
    out.u16(0x3A5C);
    out.u16(0x2328);
    out.u16(0x0038); // scroll bars and sheet tabs shown
    out.u16(0);      // first sheet active
    out.u16(0);
    out.u16(1);
    out.u16(600);
    out.endRecord(start);

    writeSimple(out, record::backup, 0);
    writeSimple(out, record::hideObj, 0);
    writeSimple(out, record::date1904, 0);
    writeSimple(out, record::calcPrecision, 1);
    writeSimple(out, record::refreshAll, 0);
    writeSimple(out, record::bookBool, 0);

    for (int i = 0; i < 4; ++i) {
        writeFont(out, colourBlack);
    }
    writeFont(out, colourWhite);

    CellFormat styleFormat;
    styleFormat.isStyle = true;
    for (int i = 0; i < 15; ++i) {
        writeXf(out, styleFormat);
    }
    writeXf(out, CellFormat{});
    CellFormat list{fontBlack, formatText, false, true, true, 0};
    writeXf(out, list);
    CellFormat title = list;
    title.font = fontWhite;
    title.fill = colourGreen;
    writeXf(out, title);
    CellFormat other = list;
    other.format = formatGeneral;
    writeXf(out, other);

    start = out.beginRecord(record::style);
    out.u16(0x8000); // built-in style on XF 0
    out.u8(0);       // Normal
    out.u8(0xFF);
    out.endRecord(start);
    writeSimple(out, record::useSelfs, 1);

    for (const std::u16string& name : names) {
        start = out.beginRecord(record::boundSheet);
        sheetOffsetFields.push_back(out.size());
        out.u32(0); // the sheet's BOF position, filled in once known
        out.u8(0);  // visible
        out.u8(0);  // worksheet
        const bool compressed = xls::fitsInOneByte(name);
        out.u8(static_cast<std::uint8_t>(name.size()));
        out.u8(compressed ? 0x00 : 0x01);
        out.utf16(name, compressed);
        out.endRecord(start);
    }

    strings.write(out);
    writeEmpty(out, record::eof);
}

bool writeWorkbook(const std::string& path, const std::vector<WorkbookSheet>& sheets,
                   std::string& error) {
    if (sheets.empty()) {
        error = "The workbook has no sheets.";
        return false;
    }
    std::vector<SheetLayout> layouts(sheets.size());
    std::size_t cellCount = 0;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        if (!checkSheet(sheets[i], i, layouts[i], error)) {
            return false;
        }
        cellCount += static_cast<std::size_t>(layouts[i].rows) *
                     static_cast<std::size_t>(std::max(1, layouts[i].columns));
    }
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        names.push_back(sheetName(sheets[i].name, i, names));
    }

    // The worksheets are written first, collecting the shared strings that the workbook
    // globals in front of them must hold.
    xls::SharedStrings strings;
    BiffBuffer worksheets;
    worksheets.reserve(cellCount * 14 + 4096);
    std::vector<std::size_t> sheetStarts;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        sheetStarts.push_back(worksheets.size());
        // A cell is named with its sheet only where the workbook has several.
        writeWorksheet(worksheets, sheets[i], layouts[i], i == 0, strings,
                       sheets.size() > 1 ? sheets[i].name : std::string());
    }

    BiffBuffer globals;
    std::vector<std::size_t> offsetFields;
    writeGlobals(globals, names, offsetFields, strings);
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        globals.patch32(offsetFields[i],
                        static_cast<std::uint32_t>(globals.size() + sheetStarts[i]));
    }
    return xls::writeCompoundFile(path, u"Workbook", {globals.view(), worksheets.view()}, error);
}

} // namespace

bool writeXlsWorkbook(const std::string& path, const std::vector<WorkbookSheet>& sheets,
                      std::string& error) {
    try {
        return writeWorkbook(path, sheets, error);
    } catch (const CellRefused& refused) {
        error = refused.what();
    } catch (const std::bad_alloc&) {
        error = "There is not enough memory to build the workbook.";
    } catch (const std::exception& e) {
        error = std::string("The workbook could not be built: ") + e.what() + ".";
    }
    return false;
}

} // namespace corvanta
