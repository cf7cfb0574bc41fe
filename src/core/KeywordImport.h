#pragma once

// Keyword files: one keyword per line, appended to the results table.

#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

class ResultsTable;

// The text of a keyword file's bytes as UTF-8: by its byte-order mark (UTF-8, UTF-16LE,
// UTF-16BE), else as UTF-8 when the bytes are valid UTF-8, else as the legacy code page
// (GB18030). Bytes that do not fit become U+FFFD. The text ends before its first NUL or
// end-of-file mark (0x1A).
std::string decodeKeywordText(std::string_view bytes);

// The lines of a text: split at CR LF, LF or a lone CR. Empty lines count; the text after
// the last line end counts only when it is not empty, and an empty text has no lines.
std::vector<std::string> splitKeywordLines(std::string_view text);

struct ImportResult {
    bool ok = false;
    int rows = 0;      // rows appended
    std::string error; // a reason the user can read when !ok
};

// Reads the file and appends one row per line (numbered from 1) in one step, after the
// rows already in the table.
ImportResult importKeywords(const std::string& path, ResultsTable& table);

} // namespace corvanta
