#include "query/QueryText.h"

#include "util/CodePage.h"
#include "util/TextSearch.h"

#include <algorithm>
#include <climits>
#include <cstddef>

namespace corvanta {

namespace {

constexpr std::string_view kQuoteMarker = "#引号";

bool keptAsIs(unsigned char byte) {
    return byte == '-' || byte == '.' || (byte >= '0' && byte <= '9') ||
           (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

std::string withQuotes(std::string_view delimiter) {
    std::string result;
    std::size_t pos = 0;
    while (true) {
        const std::size_t found = delimiter.find(kQuoteMarker, pos);
        if (found == std::string_view::npos)
            break;
        result.append(delimiter.substr(pos, found - pos));
        result.push_back('"');
        pos = found + kQuoteMarker.size();
    }
    result.append(delimiter.substr(pos));
    return result;
}

// Full-width capitals U+FF21..U+FF3A (EF BC A1..BA) become their small forms U+FF41..U+FF5A
// (EF BD 81..9A). Both take three bytes, so byte positions stay the same.
std::string foldFullWidthCapitals(std::string_view text) {
    std::string result(text);
    for (std::size_t i = 0; i + 2 < result.size(); ++i) {
        const auto b1 = static_cast<unsigned char>(result[i + 1]);
        const auto b2 = static_cast<unsigned char>(result[i + 2]);
        if (static_cast<unsigned char>(result[i]) == 0xEF && b1 == 0xBC && b2 >= 0xA1 &&
            b2 <= 0xBA) {
            result[i + 1] = static_cast<char>(0xBD);
            result[i + 2] = static_cast<char>(b2 - 0x20);
            i += 2;
        }
    }
    return result;
}

} // namespace

std::string percentEncodeUtf8(std::string_view text, bool keepAlnum, bool asUtf8) {
    text = text.substr(0, text.find('\0'));
    if (text.empty())
        return {};
    const std::string bytes = asUtf8 ? std::string(text) : utf8ToAnsi(text);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (keepAlnum && keptAsIs(byte)) {
            result.push_back(c);
        } else {
            result.push_back('%');
            result.push_back(kHex[byte >> 4]);
            result.push_back(kHex[byte & 0x0F]);
        }
    }
    return result;
}

std::string textBetween(std::string_view text, std::string_view left, std::string_view right,
                        int start, bool ignoreCase) {
    std::string leftText = withQuotes(left);
    std::string rightText = withQuotes(right);
    std::string folded;
    std::string_view searched = text;
    if (ignoreCase) {
        folded = foldFullWidthCapitals(text);
        searched = folded;
        leftText = foldFullWidthCapitals(leftText);
        rightText = foldFullWidthCapitals(rightText);
    }
    const int p = findText(searched, leftText, start < 1 ? 1 : start, ignoreCase);
    if (p == -1)
        return {};
    const std::size_t valueStart = static_cast<std::size_t>(p) + leftText.size(); // 1-based
    if (valueStart > static_cast<std::size_t>(INT_MAX))
        return {};
    const int q = findText(searched, rightText, static_cast<int>(valueStart), ignoreCase);
    if (q == -1)
        return {};
    return std::string(text.substr(valueStart - 1, static_cast<std::size_t>(q) - valueStart));
}

namespace {

// The ASCII form of a full-width form (U+FF01..U+FF5E) or of the ideographic space (U+3000)
// at `pos`, with the bytes it takes; 0 when there is none.
char asciiFormAt(std::string_view text, std::size_t pos, std::size_t& length) {
    const auto byte = [&](std::size_t i) {
        return pos + i < text.size() ? static_cast<unsigned char>(text[pos + i]) : 0u;
    };
    length = 1;
    if (byte(0) == 0xE3 && byte(1) == 0x80 && byte(2) == 0x80) {
        length = 3;
        return ' ';
    }
    if (byte(0) == 0xEF && (byte(1) == 0xBC || byte(1) == 0xBD) && byte(2) >= 0x80 &&
        byte(2) <= 0xBF) {
        const unsigned codePoint = 0xFF00u + ((byte(1) - 0xBCu) << 6) + (byte(2) - 0x80u);
        if (codePoint >= 0xFF01 && codePoint <= 0xFF5E) {
            length = 3;
            return static_cast<char>(codePoint - 0xFF01 + 0x21);
        }
    }
    return static_cast<char>(byte(0));
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

int parseWorkerCount(std::string_view text) {
    std::size_t pos = 0, length = 0;
    char c = asciiFormAt(text, pos, length);
    while (pos < text.size() && isBlank(c)) {
        pos += length;
        c = asciiFormAt(text, pos, length);
    }
    bool negative = false;
    if (pos < text.size() && (c == '+' || c == '-')) {
        negative = c == '-';
        pos += length;
        c = asciiFormAt(text, pos, length);
    }
    long long value = 0;
    while (pos < text.size() && c >= '0' && c <= '9') {
        value = std::min<long long>(value * 10 + (c - '0'), 1LL << 40);
        pos += length;
        c = asciiFormAt(text, pos, length);
    }
    if (negative)
        value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::string cookieLine(std::string_view pasted) {
    std::string line;
    std::size_t pos = 0;
    while (pos <= pasted.size()) {
        std::size_t end = pasted.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = pasted.size();
        std::string_view piece = pasted.substr(pos, end - pos);
        while (!piece.empty() && isBlank(piece.front()))
            piece.remove_prefix(1);
        while (!piece.empty() && (isBlank(piece.back()) || piece.back() == ';'))
            piece.remove_suffix(1);
        if (!piece.empty()) {
            if (!line.empty())
                line += "; ";
            line += piece;
        }
        pos = end + 1;
    }
    return line;
}

} // namespace corvanta
