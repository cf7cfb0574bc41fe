#include "web/ResponseDecoding.h"

#include "util/Platform.h"
#include "util/RegexMatcher.h"
#include "util/Utf8.h"

#include <algorithm>

namespace corvanta {

namespace {

constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
constexpr size_t kDetectionWindow = 1024;

std::string untilNul(std::string text) {
    const size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

// The name iconv should use for a declared charset: GBK and GB2312 pages are read as their
// superset GB18030 so that no character of theirs is lost.
std::string iconvName(const std::string& declared) {
    const std::string lower = lowerAscii(declared);
    if (lower == "gbk" || lower == "gb2312" || lower == "x-gbk" || lower == "gb_2312-80")
        return platform::legacyCharset;
    return declared;
}

std::string undeclared(std::string_view bodyText, std::string_view bodyBytes) {
    if (utf8::isValid(bodyBytes))
        return std::string(bodyText);
    if (auto decoded = platform::convertCharset(bodyBytes, platform::legacyCharset, "UTF-8"))
        return untilNul(std::move(*decoded));
    return std::string(bodyText);
}

} // namespace

std::string decodeResponseText(std::string_view bodyText, std::string_view bodyBytes) {
    RegexMatcher matcher;
    std::string charset;
    if (matcher.execute(kCharsetPattern, bodyText.substr(0, kDetectionWindow)))
        charset = matcher.submatchText(1, 1);
    if (charset.empty())
        return undeclared(bodyText, bodyBytes);

    const std::string name = iconvName(charset);
    if (!platform::isKnownCharset(name))
        return std::string(bodyText);
    if (auto decoded = platform::convertCharset(bodyBytes, name, "UTF-8"))
        return untilNul(std::move(*decoded));
    // The declaration does not fit the bytes: fall back to what they look like.
    return undeclared(bodyText, bodyBytes);
}

} // namespace corvanta
