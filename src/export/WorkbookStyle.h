#pragma once

namespace corvanta::workbookStyle {

// The look every exported workbook shares, whatever its format. Colours are 0xRRGGBB.
inline constexpr const char* fontName = "微软雅黑";
inline constexpr double fontSize = 11;
inline constexpr unsigned fontColor = 0x000000;
inline constexpr unsigned titleFontColor = 0xFFFFFF;
inline constexpr unsigned titleFillColor = 0x008000;
inline constexpr unsigned borderColor = 0x000000;
inline constexpr double rowHeightPoints = 20;
inline constexpr double titledColumnWidth = 18;  // in characters, for the titled columns
inline constexpr double otherColumnWidth = 8.43; // in characters, the usual default

// Rows a worksheet can hold, title row included.
inline constexpr int xlsSheetRows = 65536;
inline constexpr int xlsxSheetRows = 1048576;

// A column width as spreadsheet programs store it, in 1/256 of a character: the characters
// plus the cell's padding (5 pixels at 7 pixels a character), cut to whole 1/256 steps.
// 18 characters are stored as 4790 (18.71), 8.43 as 2340.
constexpr unsigned storedColumnWidth256(double characters) {
    return static_cast<unsigned>((characters * 7 + 5) / 7 * 256);
}

} // namespace corvanta::workbookStyle
