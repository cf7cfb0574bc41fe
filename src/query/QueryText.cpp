#include "query/QueryText.h"

#include "util/CodePage.h"
#include "util/TextSearch.h"

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

} // namespace corvanta
