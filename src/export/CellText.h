#pragma once

// The one rule every export writer applies to a cell's text, and the one way they name a
// cell in what they report: as the user finds it in the written file.

#include "util/Utf8.h"

#include <string>
#include <string_view>

namespace corvanta::cellText {

// What a workbook cell holds at most, in UTF-16 units as spreadsheet programs count.
inline constexpr std::size_t maxWorkbookUnits = 32767;

// "Cell B3" for the 0-based row and column; "Cell B3 of sheet "Sheet2"" when a sheet is named.
inline std::string place(int row, int column, std::string_view sheet = {}) {
    std::string letters;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    std::string name = "Cell " + letters + std::to_string(row + 1);
    if (!sheet.empty())
        name += " of sheet \"" + std::string(sheet) + "\"";
    return name;
}

// Why a text cannot be written, to follow its place ("Cell B3 holds ..."), or empty when it
// can. Text that is not valid UTF-8 or holds a NUL is refused by every writer, an over-long
// one only by the workbook writers.
inline std::string problem(std::string_view text, bool workbook) {
    if (!utf8::isValid(text))
        return "holds text that is not valid UTF-8.";
    // Text ends at a NUL wherever the program reads text; a writer would cut it there.
    if (text.find('\0') != std::string_view::npos)
        return "holds a NUL character, where the text would be cut short.";
    if (workbook && text.size() > maxWorkbookUnits && utf8::utf16Length(text) > maxWorkbookUnits)
        return "holds more than 32,767 characters, more than a workbook cell can hold.";
    return {};
}

} // namespace corvanta::cellText
