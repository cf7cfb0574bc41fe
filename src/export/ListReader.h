#pragma once

#include <string>
#include <vector>

namespace corvanta {

// The rows of an exported list: titles (empty for .txt/.csv, which have none) and the text
// of each cell.
struct ReadList {
    std::vector<std::string> titles;
    std::vector<std::vector<std::string>> rows;
};

// Reads a .txt/.csv/.xls/.xlsx file (extension in any case) written by exportTable or
// re-saved by a spreadsheet program. False with a readable reason (file named) when it
// cannot; `list` is left empty then.
//
// Text files: GB18030, or UTF-8 when the bytes are valid UTF-8 (with or without a byte-order
// mark); CR LF or LF line ends; every field followed by "|". A keyword may itself hold "|",
// so a line of more than four fields is read as keyword|PC|mobile|overall| from its end: the
// last three fields are the values and the fields before them, joined by "|" again, the
// keyword. A line of fewer fields gets empty cells up to four. Text files have no title line.
//
// Workbooks (by their content, so an .xlsx saved under .xls reads too): every worksheet in
// order. The first row that holds text on the first sheet is the titles; on each later
// sheet that row is skipped when it equals them, and kept as a list row otherwise. Numbers
// read as text ("1234", not "1234.0"; at most 15 significant digits, as spreadsheet
// programs show them), booleans as "TRUE"/"FALSE", cells that were never written as "".
// Every row is at least as wide as the titles.
//
// In every format, rows in which no cell holds text (empty lines included) are skipped.
// Texts are UTF-8. A damaged file fails with a reason; reading it never takes more than a
// bounded amount of memory (about 1 GiB for the largest lists).
bool readExportedList(const std::string& path, ReadList& list, std::string& error);

} // namespace corvanta
