#pragma once

// What the workbook readers hand over: the cells of each worksheet as they were found, and
// the one way they turn numbers and UTF-16 into text. Internal to the list reader.

#include "export/ListReader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvanta::listread {

struct Cell {
    std::uint32_t row = 0; // zero-based
    std::uint32_t column = 0;
    std::string text; // UTF-8, never empty
};

// One worksheet: its cells in any order; of two cells at one place the later one counts.
struct Sheet {
    std::vector<Cell> cells;
};

// Bytes the list read from one file may take at most: a damaged or hostile file fails
// before it makes the reader hold more. The largest list the program writes (a million rows
// of four cells) takes about a sixth of it.
inline constexpr std::size_t maxListBytes = std::size_t{1} << 30;

// Counts the memory that the read cells take; false once the total would pass the limit.
class Budget {
public:
    explicit Budget(std::size_t limit = maxListBytes) : limit_(limit) {}

    bool take(std::size_t bytes) {
        if (bytes > limit_ - used_)
            return false;
        used_ += bytes;
        return true;
    }
    // Charges a cell about to be added to a sheet.
    bool takeCell(std::size_t textBytes) { return take(sizeof(Cell) + textBytes); }

private:
    std::size_t limit_;
    std::size_t used_ = 0;
};

inline constexpr const char* tooLarge =
    "it holds more than this program can read into memory at once (over 1 GiB of cells)";

// A cell's number as a spreadsheet program shows it in the General format: integers without
// a decimal part ("1234"), other values with at most 15 significant digits ("0.3", "1e+20").
// Independent of the locale.
std::string numberText(double value);

// UTF-16 code units to UTF-8; an unpaired surrogate becomes U+FFFD.
void appendUtf8(std::u16string_view units, std::string& out);

// Turns the sheets into the list's titles and rows (see readExportedList). False with a
// reason sentence when the list would not fit the budget.
bool assembleList(std::vector<Sheet>& sheets, Budget& budget, ReadList& list, std::string& reason);

} // namespace corvanta::listread
