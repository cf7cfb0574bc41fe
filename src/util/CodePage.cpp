#include "util/CodePage.h"

#include "util/Platform.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

namespace corvanta {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;
// The charset of a std::u16string's bytes in memory.
const std::string kWideCharset = kLittleEndian ? "UTF-16LE" : "UTF-16BE";

// The iconv name of a Windows code page number, or empty when the program does not know
// the number. The system's own code pages (ANSI, OEM, the thread's) are the legacy one.
std::string charsetFor(int codePage) {
    switch (codePage) {
    case 0: // the system's ANSI code page
    case 1: // the system's OEM code page
    case 3: // the calling thread's ANSI code page
    case kLegacyCodePage:
    case 54936: // the Windows number of GB18030 itself
        return platform::legacyCharset;
    case kUtf8CodePage:
        return "UTF-8";
    case 65000:
        return "UTF-7";
    case 1200:
        return "UTF-16LE";
    case 1201:
        return "UTF-16BE";
    case 12000:
        return "UTF-32LE";
    case 12001:
        return "UTF-32BE";
    case 20127:
        return "US-ASCII";
    case 20936:
        return "GB2312";
    case 950:
        return "BIG5";
    case 10000:
        return "MACINTOSH";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 50220:
        return "ISO-2022-JP";
    case 51932:
        return "EUC-JP";
    case 51949:
        return "EUC-KR";
    case 28603:
        return "ISO-8859-13";
    case 28605:
        return "ISO-8859-15";
    default:
        break;
    }
    if (codePage >= 28591 && codePage <= 28599)
        return "ISO-8859-" + std::to_string(codePage - 28590);
    // The remaining Windows and DOS code pages (437, 850, 866, 874, 932, 949, 1250-1258...)
    // go by the same numbers in iconv.
    if (codePage > 0) {
        const std::string name = "CP" + std::to_string(codePage);
        if (platform::isKnownCharset(name))
            return name;
    }
    return {};
}

// Code pages whose bytes are GB18030's except that a lone 0x80 is the euro sign, as in
// the Windows code page 936.
bool isLegacyCodePage(int codePage) {
    return codePage == 0 || codePage == 1 || codePage == 3 || codePage == kLegacyCodePage;
}

// The size of one code unit: what a NUL takes and how far to step over a bad unit.
std::size_t unitSizeOf(int codePage) {
    switch (codePage) {
    case 1200:
    case 1201:
        return 2;
    case 12000:
    case 12001:
        return 4;
    default:
        return 1;
    }
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
    case 12000:
        return std::string("\xFD\xFF\x00\x00", 4);
    case 12001:
        return std::string("\x00\x00\xFF\xFD", 4);
    default:
        return "?";
    }
}

// The text up to its first NUL character: a whole zero unit of the code page.
std::string_view untilNul(std::string_view text, int codePage) {
    const std::size_t unit = unitSizeOf(codePage);
    if (unit == 1)
        return text.substr(0, text.find('\0'));
    for (std::size_t i = 0; i + unit <= text.size(); i += unit) {
        if (text.substr(i, unit).find_first_not_of('\0') == std::string_view::npos)
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

namespace {

std::u16string convertToWide(std::string_view text, const std::string& charset,
                             std::size_t unitSize) {
    const std::string replacement = kLittleEndian ? "\xFD\xFF" : "\xFF\xFD";
    const auto bytes =
        platform::convertCharsetLenient(text, charset, kWideCharset, replacement,
                                        [unitSize](std::string_view) { return unitSize; });
    if (!bytes)
        return {};
    std::u16string wide(bytes->size() / 2, u'\0');
    std::memcpy(wide.data(), bytes->data(), wide.size() * 2);
    return wide;
}

std::string convertFromWide(std::u16string_view wide, const std::string& charset, int codePage) {
    const std::string_view bytes(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
    auto converted = platform::convertCharsetLenient(bytes, kWideCharset, charset,
                                                     replacementFor(codePage), wideCharacterSize);
    return converted ? std::move(*converted) : std::string();
}

// How many bytes the legacy character at `pos` takes: four for GB18030's four-byte form,
// two for a lead byte with a trail byte, one for anything else.
std::size_t legacyCharacterSize(std::string_view text, std::size_t pos) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(pos);
    if (lead < 0x81 || lead == 0xFF || pos + 1 >= text.size())
        return 1;
    const unsigned char next = byteAt(pos + 1);
    if (next >= 0x30 && next <= 0x39)
        return std::min<std::size_t>(4, text.size() - pos);
    return (next >= 0x40 && next != 0x7F && next != 0xFF) ? 2 : 1;
}

} // namespace

std::u16string codePageToWide(std::string_view text, int codePage) {
    const std::string charset = charsetFor(codePage);
    if (charset.empty())
        return {};
    text = untilNul(text, codePage);
    if (!isLegacyCodePage(codePage))
        return convertToWide(text, charset, unitSizeOf(codePage));
    // A lone 0x80 where a character starts is the euro sign; the rest is GB18030.
    std::u16string wide;
    std::size_t segment = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        if (static_cast<unsigned char>(text[pos]) == 0x80) {
            wide += convertToWide(text.substr(segment, pos - segment), charset, 1);
            wide += u'\u20AC';
            segment = ++pos;
        } else {
            pos += legacyCharacterSize(text, pos);
        }
    }
    wide += convertToWide(text.substr(segment), charset, 1);
    return wide;
}

std::string wideToCodePage(std::u16string_view wide, int codePage) {
    const std::string charset = charsetFor(codePage);
    if (charset.empty())
        return {};
    wide = wide.substr(0, wide.find(u'\0'));
    if (!isLegacyCodePage(codePage))
        return convertFromWide(wide, charset, codePage);
    // The euro sign is the single byte 0x80 there.
    std::string result;
    std::size_t segment = 0;
    for (std::size_t pos = wide.find(u'\u20AC'); pos != std::u16string_view::npos;
         pos = wide.find(u'\u20AC', segment)) {
        result += convertFromWide(wide.substr(segment, pos - segment), charset, codePage);
        result += '\x80';
        segment = pos + 1;
    }
    result += convertFromWide(wide.substr(segment), charset, codePage);
    return result;
}

std::string ansiToUtf8(std::string_view legacyText) {
    return wideToCodePage(codePageToWide(legacyText, kLegacyCodePage), kUtf8CodePage);
}

std::string utf8ToAnsi(std::string_view utf8Text) {
    return wideToCodePage(codePageToWide(utf8Text, kUtf8CodePage), kLegacyCodePage);
}

} // namespace corvanta
