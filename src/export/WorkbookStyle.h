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
inline constexpr double titledColumnWidth = 18; // in characters, for the titled columns

} // namespace corvanta::workbookStyle
