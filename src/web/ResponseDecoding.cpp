#include "web/ResponseDecoding.h"

#include "util/Platform.h"
#include "util/RegexMatcher.h"
#include "util/TextSearch.h"
#include "util/Utf8.h"

#include <algorithm>
#include <optional>

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

// The name iconv should use for a declared charset: GBK and GB2312 pages are read as their
// superset GB18030 so that no character of theirs is lost.
std::string iconvName(const std::string& declared) {
    const std::string lower = asciiLowercase(declared);
    if (lower == "gbk" || lower == "gb2312" || lower == "x-gbk" || lower == "gb_2312-80")
        return platform::legacyCharset;
    // A tag that could be read as ASCII was not written in UTF-16; browsers read such a
    // page as UTF-8.
    if (lower == "utf-16" || lower == "utf-16le" || lower == "utf-16be")
        return "UTF-8";
    return declared;
}

// Bytes in a charset to UTF-8; whatever does not fit the charset becomes U+FFFD, one per
// byte, and the rest is kept.
std::optional<std::string> decodeLeniently(std::string_view bytes, const std::string& charset) {
    return platform::convertCharsetLenient(bytes, charset, "UTF-8", "\xEF\xBF\xBD",
                                           [](std::string_view) { return std::size_t{1}; });
}

// Without a usable declaration: well-formed UTF-8 stays, anything else is read as the
// legacy code page.
std::string undeclared(std::string_view bodyBytes) {
    if (utf8::isValid(bodyBytes))
        return std::string(bodyBytes);
    if (auto decoded = decodeLeniently(bodyBytes, platform::legacyCharset))
        return std::move(*decoded);
    return utf8::withReplacements(bodyBytes);
}

} // namespace

std::string decodeResponseText(std::string_view bodyText, std::string_view bodyBytes) {
    RegexMatcher matcher;
    std::string charset;
    if (matcher.execute(kCharsetPattern, bodyText.substr(0, kDetectionWindow)))
        charset = matcher.submatchText(1, 1);

    std::optional<std::string> decoded;
    if (!charset.empty() && platform::isKnownCharset(iconvName(charset)))
        decoded = decodeLeniently(bodyBytes, iconvName(charset));
    std::string text = decoded ? std::move(*decoded) : undeclared(bodyBytes);
    text = untilNul(std::move(text));
    // Whatever the converter made of the bytes, the result is well-formed.
    return utf8::isValid(text) ? text : utf8::withReplacements(text);
}

} // namespace corvanta
