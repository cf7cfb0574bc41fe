#include "web/HeaderBlock.h"

#include "util/TextSearch.h"

namespace corvanta {

namespace {

constexpr std::string_view kCrLf = "\r\n";

struct DefaultLine {
    std::string_view presenceKey;
    std::string_view line;
    bool postOnly;
};

constexpr DefaultLine kDefaultLines[] = {
    {"User-Agent: ",
     "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)", false},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*", false},
    {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312", false},
    {"Accept-Language: ", "Accept-Language: zh-cn", false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded", true},
    {"Cache-Control: ", "Cache-Control: no-cache", false},
};

constexpr int kPostMethod = 1;

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::vector<std::string_view> splitAtCrLf(std::string_view block) {
    std::vector<std::string_view> pieces;
    size_t begin = 0;
    while (begin < block.size()) {
        const size_t end = block.find(kCrLf, begin);
        if (end == std::string_view::npos) {
            pieces.push_back(block.substr(begin));
            break;
        }
        pieces.push_back(block.substr(begin, end - begin));
        begin = end + kCrLf.size();
    }
    return pieces;
}

std::string completeDefaultHeaders(std::string_view block, int method) {
    std::string result(block);
    for (const DefaultLine& row : kDefaultLines) {
        if (row.postOnly && method != kPostMethod)
            continue;
        if (findText(result, row.presenceKey, 0, true) == -1) {
            result += row.line;
            result += kCrLf;
        }
    }
    return result;
}

std::string normalizeHeaderBlock(std::string_view block) {
    std::string result;
    for (std::string_view piece : splitAtCrLf(block)) {
        const size_t colon = piece.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string line(piece);
        bool capitalise = true;
        for (size_t i = 0; i < colon; ++i) {
            if (capitalise)
                line[i] = upperAscii(line[i]);
            capitalise = line[i] == '-';
        }
        result += line;
        result += kCrLf;
    }
    if (!result.empty())
        result.resize(result.size() - kCrLf.size());
    return result;
}

std::string headerValue(std::string_view block, std::string_view name) {
    for (std::string_view piece : splitAtCrLf(block)) {
        if (!piece.starts_with(name))
            continue;
        const std::string key = std::string(name) + ": ";
        const size_t at = piece.rfind(key);
        if (at == std::string_view::npos)
            return {};
        return std::string(piece.substr(at + key.size()));
    }
    return {};
}

std::string dropKeepAliveLine(std::string_view block) {
    std::string result(block);
    if (result.find("Connection") == std::string::npos)
        return result;
    if (headerValue(result, "Connection") != "keep-alive")
        return result;
    constexpr std::string_view line = "Connection: keep-alive\r\n";
    for (size_t at = result.find(line); at != std::string::npos; at = result.find(line, at))
        result.erase(at, line.size());
    return result;
}

std::string assembleRequestHeaders(std::string_view extraHeaders, int method,
                                   std::string_view sendCookies, bool addDefaultHeaders,
                                   bool normalizeHeaders) {
    std::string block(extraHeaders);
    if (!block.empty())
        block += kCrLf;
    if (addDefaultHeaders)
        block = completeDefaultHeaders(block, method);
    if (normalizeHeaders)
        block = normalizeHeaderBlock(block);
    block = dropKeepAliveLine(block);

    if (!sendCookies.empty() && findText(block, "Cookie:", 0, true) == -1) {
        block += kCrLf;
        if (findText(sendCookies, "Cookie:", 0, true) == -1)
            block += "Cookie: ";
        block += sendCookies;
        block += kCrLf;
    }
    return block;
}

} // namespace corvanta
