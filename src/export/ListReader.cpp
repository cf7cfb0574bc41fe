#include "export/ListReader.h"

#include "util/Platform.h"

#include "export/read/SheetCells.h"
#include "export/read/XlsRead.h"
#include "export/read/XlsxRead.h"
#include "util/CodePage.h"
#include "util/Utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

namespace corvanta {

namespace {

using listread::Budget;

// The largest file the reader takes in: several times the largest list the program writes.
constexpr std::uintmax_t maxFileBytes = std::uintmax_t{512} << 20;

enum class Kind { Unknown, Text, Workbook };

Kind kindOf(const std::string& path) {
    std::string extension = std::filesystem::path(path).filename().extension().string();
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (extension == ".txt" || extension == ".csv")
        return Kind::Text;
    if (extension == ".xls" || extension == ".xlsx")
        return Kind::Workbook;
    return Kind::Unknown;
}

std::string cannotRead(const std::string& path, const std::string& reason) {
    return "Cannot read \"" + path + "\": " + reason + ".";
}

// The whole file, or false with the reason it cannot be had.
bool readFile(const std::string& path, std::string& bytes, std::string& reason) {
    std::error_code code;
    const auto status = std::filesystem::status(path, code);
    if (status.type() == std::filesystem::file_type::not_found) {
        reason = "the file does not exist";
        return false;
    }
    if (status.type() == std::filesystem::file_type::directory) {
        reason = "it is a folder, not a file";
        return false;
    }
    errno = 0;
    std::FILE* file = platform::openFile(path, "rb");
    if (file == nullptr) {
        const int number = errno != 0 ? errno : EIO;
        reason = number == EACCES || number == EPERM ? "no permission to read it"
                                                     : std::generic_category().message(number);
        return false;
    }
    bytes.clear();
    char buffer[64 * 1024];
    bool ok = true;
    for (;;) {
        const std::size_t count = std::fread(buffer, 1, sizeof buffer, file);
        if (bytes.size() + count > maxFileBytes) {
            reason = "it is larger than 512 MiB, far larger than an exported list";
            ok = false;
            break;
        }
        bytes.append(buffer, count);
        if (count < sizeof buffer) {
            if (std::ferror(file) != 0) {
                reason = "the file could not be read to its end (" +
                         std::generic_category().message(errno != 0 ? errno : EIO) + ")";
                ok = false;
            }
            break;
        }
    }
    std::fclose(file);
    return ok;
}

// The text of a list file as UTF-8: as it is when it is valid UTF-8 (a byte-order mark
// dropped), otherwise decoded from the legacy code page.
std::string decodeText(std::string_view bytes) {
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (bytes.starts_with(byteOrderMark))
        return utf8::withReplacements(bytes.substr(byteOrderMark.size()));
    if (utf8::isValid(bytes))
        return std::string(bytes);
    return ansiToUtf8(bytes); // the caller has made sure it holds no NUL, where this ends
}

constexpr std::size_t textColumns = 4; // keyword, PC, mobile, overall

// One line's cells: every field is followed by "|"; a keyword's own "|" stays in it, since
// the three values are the last three fields.
std::vector<std::string> lineCells(std::string_view line) {
    if (line.ends_with('|'))
        line.remove_suffix(1);
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        const std::size_t bar = line.find('|', start);
        fields.emplace_back(line.substr(start, bar == std::string_view::npos ? bar : bar - start));
        if (bar == std::string_view::npos)
            break;
        start = bar + 1;
    }
    if (fields.size() > textColumns) {
        const std::size_t keywordFields = fields.size() - (textColumns - 1);
        std::string keyword = fields[0];
        for (std::size_t i = 1; i < keywordFields; ++i)
            keyword += "|" + fields[i];
        fields.erase(fields.begin() + 1,
                     fields.begin() + static_cast<std::ptrdiff_t>(keywordFields));
        fields[0] = std::move(keyword);
    }
    fields.resize(textColumns);
    return fields;
}

bool readText(const std::string& bytes, ReadList& list, std::string& reason) {
    // A list's text never holds a NUL byte; a file that does is something else.
    if (bytes.find('\0') != std::string::npos) {
        reason = "it is not a text list (it holds binary data)";
        return false;
    }
    const std::string text = decodeText(bytes);
    Budget budget;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        std::vector<std::string> cells = lineCells(line);
        bool empty = true;
        for (const std::string& cell : cells)
            empty = empty && cell.empty();
        if (empty)
            continue;
        if (!budget.take(line.size() + textColumns * sizeof(std::string))) {
            reason = listread::tooLarge;
            return false;
        }
        list.rows.push_back(std::move(cells));
    }
    return true;
}

bool readWorkbook(const std::string& bytes, ReadList& list, std::string& reason) {
    Budget budget;
    std::vector<listread::Sheet> sheets;
    // Read by what the file holds, so a workbook saved under the other extension reads too.
    bool ok = false;
    if (bytes.starts_with("PK")) {
        ok = listread::readXlsx(bytes, budget, sheets, reason);
    } else if (bytes.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
        ok = listread::readXls(bytes, budget, sheets, reason);
    } else {
        reason = "it is not an .xls or .xlsx workbook (it is damaged or another kind of file)";
    }
    return ok && listread::assembleList(sheets, budget, list, reason);
}

} // namespace

bool readExportedList(const std::string& path, ReadList& list, std::string& error) {
    list = {};
    const Kind kind = kindOf(path);
    if (kind == Kind::Unknown) {
        error = cannotRead(path, "it is not a list file; the program reads .txt, .csv, .xls "
                                 "and .xlsx files");
        return false;
    }
    std::string bytes;
    std::string reason;
    bool ok = false;
    try {
        if (readFile(path, bytes, reason)) {
            if (bytes.empty() && kind == Kind::Workbook)
                reason = "the file is empty";
            else
                ok = kind == Kind::Text ? readText(bytes, list, reason)
                                        : readWorkbook(bytes, list, reason);
        }
    } catch (const std::bad_alloc&) {
        reason = "there is not enough memory to read it";
        ok = false;
    }
    if (!ok) {
        list = {};
        error = cannotRead(path, reason);
    }
    return ok;
}

} // namespace corvanta
