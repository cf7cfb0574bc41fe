#include "export/read/SheetCells.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace corvanta::listread {

namespace {

void appendCodePoint(std::uint32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool isHigh(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLow(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The cells of one row between `begin` and `end` (sorted by column) as a row of text at
// least `width` wide.
std::vector<std::string> rowText(std::vector<Cell>::iterator begin, std::vector<Cell>::iterator end,
                                 std::size_t width) {
    const std::size_t columns = std::max<std::size_t>(width, (end - 1)->column + std::size_t{1});
    std::vector<std::string> row(columns);
    for (auto cell = begin; cell != end; ++cell)
        row[cell->column] = std::move(cell->text);
    return row;
}

bool sameTitles(std::vector<std::string> row, const std::vector<std::string>& titles) {
    while (!row.empty() && row.back().empty())
        row.pop_back();
    return row == titles;
}

} // namespace

std::string numberText(double value) {
    if (!std::isfinite(value))
        return "#NUM!";
    if (value == 0)
        return "0"; // also for -0
    char buffer[64];
    std::to_chars_result result;
    if (std::trunc(value) == value && std::fabs(value) < 1e15)
        result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
    else
        result =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    return std::string(buffer, result.ptr);
}

void appendUtf8(std::u16string_view units, std::string& out) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (isHigh(unit) && i + 1 < units.size() && isLow(units[i + 1])) {
            appendCodePoint(0x10000 + ((std::uint32_t{unit} - 0xD800) << 10) +
                                (std::uint32_t{units[i + 1]} - 0xDC00),
                            out);
            ++i;
        } else if (isHigh(unit) || isLow(unit)) {
            appendCodePoint(0xFFFD, out);
        } else {
            appendCodePoint(unit, out);
        }
    }
}

bool assembleList(std::vector<Sheet>& sheets, Budget& budget, ReadList& list, std::string& reason) {
    bool haveTitles = false;
    for (Sheet& sheet : sheets) {
        std::vector<Cell>& cells = sheet.cells;
        // Row by row, left to right; of two cells at one place the later one wins.
        const auto before = [](const Cell& a, const Cell& b) {
            return a.row != b.row ? a.row < b.row : a.column < b.column;
        };
        if (!std::is_sorted(cells.begin(), cells.end(), before)) // as written, mostly
            std::stable_sort(cells.begin(), cells.end(), before);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (kept > 0 && cells[kept - 1].row == cells[i].row &&
                cells[kept - 1].column == cells[i].column)
                cells[kept - 1] = std::move(cells[i]);
            else if (kept++ != i)
                cells[kept - 1] = std::move(cells[i]);
        }
        cells.resize(kept);

        bool firstRow = true;
        for (auto begin = cells.begin(); begin != cells.end();) {
            auto end = begin;
            while (end != cells.end() && end->row == begin->row)
                ++end;
            // The empty strings that pad a row count like cells do.
            const std::size_t width =
                std::max<std::size_t>(list.titles.size(), (end - 1)->column + std::size_t{1});
            if (!budget.take(width * sizeof(std::string))) {
                reason = tooLarge;
                return false;
            }
            std::vector<std::string> row = rowText(begin, end, list.titles.size());
            begin = end;
            if (firstRow && !haveTitles) {
                while (!row.empty() && row.back().empty())
                    row.pop_back();
                list.titles = std::move(row);
                haveTitles = true;
            } else if (!(firstRow && sameTitles(row, list.titles))) {
                list.rows.push_back(std::move(row));
            }
            firstRow = false;
        }
        Sheet().cells.swap(cells); // the texts moved on; free the rest now
    }
    return true;
}

} // namespace corvanta::listread
