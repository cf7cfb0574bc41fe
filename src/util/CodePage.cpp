#include "util/CodePage.h"

#include "util/Platform.h"

#include <bit>
#include <cstddef>
#include <cstring>

namespace corvanta {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;
// The charset of a std::u16string's bytes in memory.
const std::string kWideCharset = kLittleEndian ? "UTF-16LE" : "UTF-16BE";

std::string charsetFor(int codePage) {
    switch (codePage) {
    case kLegacyCodePage:
    case 54936: // the Windows number of GB18030 itself
        return platform::legacyCharset;
    case kUtf8CodePage:
        return "UTF-8";
    case 1200:
        return "UTF-16LE";
    case 1201:
        return "UTF-16BE";
    default:
        return codePage > 0 ? "CP" + std::to_string(codePage) : std::string();
    }
}

bool isUtf16CodePage(int codePage) {
    return codePage == 1200 || codePage == 1201;
}

// U+FFFD in the given Unicode code page's bytes; "?" for every other code page.
std::string replacementFor(int codePage) {
    switch (codePage) {
    case kUtf8CodePage:
        return "\xEF\xBF\xBD";
    case 1200:
        return "\xFD\xFF";
    case 1201:
        return "\xFF\xFD";
    default:
        return "?";
    }
}

// The text up to its first NUL character: a NUL byte, or for UTF-16 a NUL unit.
std::string_view untilNul(std::string_view text, int codePage) {
    if (!isUtf16CodePage(codePage))
        return text.substr(0, text.find('\0'));
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        if (text[i] == '\0' && text[i + 1] == '\0')
            return text.substr(0, i);
    }
    return text;
}

char16_t unitAt(std::string_view bytes, std::size_t i) {
    char16_t unit = 0;
    std::memcpy(&unit, bytes.data() + i, sizeof unit);
    return unit;
}

// How far to step over a UTF-16 character that could not be converted: a whole
// surrogate pair, or one unit.
std::size_t wideCharacterSize(std::string_view rest) {
    if (rest.size() >= 4) {
        const char16_t high = unitAt(rest, 0);
        const char16_t low = unitAt(rest, 2);
        if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF)
            return 4;
    }
    return 2;
}

} // namespace

std::u16string codePageToWide(std::string_view text, int codePage) {
    const std::string charset = charsetFor(codePage);
    if (charset.empty())
        return {};
    const std::size_t unitSize = isUtf16CodePage(codePage) ? 2 : 1;
    const std::string replacement = kLittleEndian ? "\xFD\xFF" : "\xFF\xFD";
    const auto bytes = platform::convertCharsetLenient(
        untilNul(text, codePage), charset, kWideCharset, replacement,
        [unitSize](std::string_view) { return unitSize; });
    if (!bytes)
        return {};
    std::u16string wide(bytes->size() / 2, u'\0');
    std::memcpy(wide.data(), bytes->data(), wide.size() * 2);
    return wide;
}

std::string wideToCodePage(std::u16string_view wide, int codePage) {
    const std::string charset = charsetFor(codePage);
    if (charset.empty())
        return {};
    wide = wide.substr(0, wide.find(u'\0'));
    const std::string_view bytes(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
    auto converted = platform::convertCharsetLenient(bytes, kWideCharset, charset,
                                                     replacementFor(codePage), wideCharacterSize);
    return converted ? std::move(*converted) : std::string();
}

std::string ansiToUtf8(std::string_view legacyText) {
    return wideToCodePage(codePageToWide(legacyText, kLegacyCodePage), kUtf8CodePage);
}

std::string utf8ToAnsi(std::string_view utf8Text) {
    return wideToCodePage(codePageToWide(utf8Text, kUtf8CodePage), kLegacyCodePage);
}

} // namespace corvanta
