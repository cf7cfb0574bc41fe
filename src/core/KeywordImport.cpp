#include "core/KeywordImport.h"

#include "core/ResultsTable.h"
#include "util/CodePage.h"
#include "util/Utf8.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace corvanta {

namespace {

constexpr int kUtf16LeCodePage = 1200;
constexpr int kUtf16BeCodePage = 1201;

std::string fromCodePage(std::string_view bytes, int codePage) {
    return wideToCodePage(codePageToWide(bytes, codePage), kUtf8CodePage);
}

// Why a file could not be read, in words.
std::string unreadableReason(const std::filesystem::path& path, int error) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::is_directory(status))
        return "这是一个文件夹";
    if (std::filesystem::exists(status) || error == EACCES)
        return error ? std::strerror(error) : "无法读取";
    return "文件不存在";
}

} // namespace

std::string decodeKeywordText(std::string_view bytes) {
    std::string text;
    if (bytes.starts_with("\xEF\xBB\xBF"))
        text = fromCodePage(bytes.substr(3), kUtf8CodePage);
    else if (bytes.starts_with("\xFF\xFE"))
        text = fromCodePage(bytes.substr(2), kUtf16LeCodePage);
    else if (bytes.starts_with("\xFE\xFF"))
        text = fromCodePage(bytes.substr(2), kUtf16BeCodePage);
    else if (utf8::isValid(bytes.substr(0, bytes.find('\0'))))
        text = std::string(bytes);
    else
        text = ansiToUtf8(bytes);
    const std::size_t end = text.find_first_of(std::string_view("\0\x1A", 2));
    if (end != std::string::npos)
        text.resize(end);
    return text;
}

std::vector<std::string> splitKeywordLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(pos));
            break;
        }
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

ImportResult importKeywords(const std::string& path, ResultsTable& table) {
    ImportResult result;
    // Paths are UTF-8 on every platform.
    const std::filesystem::path filePath(std::u8string(path.begin(), path.end()));
    std::error_code ec;
    errno = 0;
    std::ifstream file;
    if (!std::filesystem::is_directory(filePath, ec))
        file.open(filePath, std::ios::binary);
    std::string bytes;
    if (file.is_open()) {
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        if (file.bad())
            errno = errno ? errno : EIO;
    }
    if (!file.is_open() || file.bad()) {
        result.error = "无法读取关键词文件“" + path + "”：" + unreadableReason(filePath, errno);
        return result;
    }
    const std::vector<std::string> lines = splitKeywordLines(decodeKeywordText(bytes));
    table.appendKeywords(lines);
    result.ok = true;
    result.rows = static_cast<int>(lines.size());
    return result;
}

} // namespace corvanta
