#include "export/ListText.h"

#include "export/CellText.h"
#include "export/FileReplacement.h"
#include "util/Platform.h"

#include <cerrno>
#include <cstdio>
#include <string_view>

namespace corvanta {

namespace {

constexpr std::string_view fullWidthSpace = "\xE3\x80\x80"; // U+3000
constexpr std::size_t chunkBytes = 256 * 1024;

std::string_view trimBlanks(std::string_view text) {
    while (true) {
        if (!text.empty() && text.front() == ' ')
            text.remove_prefix(1);
        else if (text.starts_with(fullWidthSpace))
            text.remove_prefix(fullWidthSpace.size());
        else
            break;
    }
    while (true) {
        if (!text.empty() && text.back() == ' ')
            text.remove_suffix(1);
        else if (text.ends_with(fullWidthSpace))
            text.remove_suffix(fullWidthSpace.size());
        else
            break;
    }
    return text;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameTitle(std::string_view a, std::string_view b) {
    a = trimBlanks(a);
    b = trimBlanks(b);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

std::string replaceAll(const std::string& text, std::string_view from, const std::string& to) {
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(from, start)) != std::string::npos;
         start = at + from.size()) {
        out.append(text, start, at - start);
        out += to;
    }
    out.append(text, start);
    return out;
}

// Collects lines as UTF-8 and writes them converted to the legacy code page a chunk at a
// time: one conversion per chunk instead of one per cell, memory bounded whatever the
// list's length.
class LegacyTextSink {
public:
    LegacyTextSink(std::FILE* file, const std::string& shownPath, bool titleLine)
        : file_(file), shownPath_(shownPath), firstRowIsTitle_(titleLine) {}

    void beginLine() { lineStarts_.push_back(buffer_.size()); }
    std::string& buffer() { return buffer_; }

    bool endLine(std::string& error) {
        buffer_ += "\r\n";
        return buffer_.size() < chunkBytes || flush(error);
    }

    bool flush(std::string& error) {
        if (buffer_.empty())
            return true;
        const auto converted = platform::convertCharset(buffer_, "UTF-8", platform::legacyCharset);
        if (!converted) {
            error = describeBadLine();
            return false;
        }
        errno = 0;
        if (std::fwrite(converted->data(), 1, converted->size(), file_) != converted->size()) {
            error = describeFileError(errno ? errno : EIO, shownPath_);
            return false;
        }
        linesBefore_ += static_cast<int>(lineStarts_.size());
        lineStarts_.clear();
        buffer_.clear();
        return true;
    }

private:
    std::string describeBadLine() const {
        for (std::size_t i = 0; i < lineStarts_.size(); ++i) {
            const std::size_t end =
                i + 1 < lineStarts_.size() ? lineStarts_[i + 1] : buffer_.size();
            const std::string_view line(buffer_.data() + lineStarts_[i], end - lineStarts_[i]);
            if (platform::convertCharset(line, "UTF-8", platform::legacyCharset))
                continue;
            const int lineNumber = linesBefore_ + static_cast<int>(i);
            if (firstRowIsTitle_ && lineNumber == 0)
                return "The column titles hold text that is not valid UTF-8.";
            const int row = lineNumber + (firstRowIsTitle_ ? 0 : 1);
            return "Row " + std::to_string(row) + " holds text that is not valid UTF-8.";
        }
        return "The list holds text that cannot be written in the legacy code page.";
    }

    std::FILE* file_;
    const std::string& shownPath_;
    bool firstRowIsTitle_;
    std::string buffer_;
    std::vector<std::size_t> lineStarts_;
    int linesBefore_ = 0;
};

} // namespace

std::vector<std::string> splitTitles(const std::string& titles) {
    std::vector<std::string> pieces;
    if (titles.empty())
        return pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = titles.find('|', start);
        if (at == std::string::npos) {
            pieces.push_back(titles.substr(start));
            return pieces;
        }
        pieces.push_back(titles.substr(start, at - start));
        start = at + 1;
    }
}

std::string buildColumnMap(const ListSource& list, const std::string& titles,
                           const std::string& separator, std::vector<int>& columnMap) {
    const int columns = list.listColumnCount();
    const std::vector<std::string> pieces = splitTitles(titles);
    columnMap.assign(pieces.size(), -1);
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        for (int column = 0; column < columns; ++column) {
            if (sameTitle(list.columnTitle(column), pieces[k])) {
                columnMap[k] = column;
                break;
            }
        }
    }
    return replaceAll(titles, "|", separator);
}

int writeListText(const ListSource& list, const std::string& fileName, const std::string& titles,
                  const std::string& separator, bool writeTitles, const ExportProgress& progress,
                  std::string& error) {
    const int rows = list.rowCount();
    std::vector<int> columnMap;
    const std::string titleLine = buildColumnMap(list, titles, separator, columnMap);
    const std::vector<std::string> titlePieces = splitTitles(titles);
    const int fields = static_cast<int>(columnMap.size());
    if (fields < 1) {
        error = "There are no columns to export.";
        return 0;
    }

    FileReplacement replacement(fileName);
    if (!replacement.create(error))
        return -1;
    std::FILE* file = platform::openFile(replacement.temporaryPath(), "wb");
    if (file == nullptr) {
        error = describeFileError(errno, fileName);
        return -1;
    }

    LegacyTextSink sink(file, fileName, writeTitles);
    bool ok = true;
    if (writeTitles) {
        for (std::size_t k = 0; ok && k < columnMap.size(); ++k) {
            const std::string title = k < titlePieces.size() ? titlePieces[k] : std::string();
            if (const std::string problem = cellText::problem(title, false); !problem.empty()) {
                error = cellText::place(0, static_cast<int>(k)) + " " + problem;
                ok = false;
            }
        }
    }
    if (ok && writeTitles) {
        sink.beginLine();
        sink.buffer() += titleLine;
        ok = sink.endLine(error);
    }
    for (int r = 1; ok && r <= rows; ++r) {
        sink.beginLine();
        std::string& line = sink.buffer();
        for (std::size_t k = 0; ok && k < columnMap.size(); ++k) {
            if (columnMap[k] >= 0) {
                const std::string text = list.cellText(r - 1, columnMap[k]);
                if (const std::string problem = cellText::problem(text, false); !problem.empty()) {
                    const int fileRow = r - 1 + (writeTitles ? 1 : 0);
                    error = cellText::place(fileRow, static_cast<int>(k)) + " " + problem;
                    ok = false;
                }
                line += text;
            }
            line += separator;
        }
        if (!ok)
            break;
        if (progress)
            progress(rows, r);
        ok = sink.endLine(error);
    }
    if (ok)
        ok = sink.flush(error);
    std::string closeError;
    if (!closeWritten(file, fileName, closeError) && ok) {
        error = closeError;
        ok = false;
    }
    if (!ok || !replacement.commit(error))
        return -1;
    return fields;
}

} // namespace corvanta
