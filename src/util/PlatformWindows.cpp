#include "util/Platform.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// windows.h comes first: the other system headers build on it.
// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <sys/stat.h>
// clang-format on

namespace corvanta::platform {

namespace {

// ---------------------------------------------------------------------------------------
// Charsets. Every conversion goes through UTF-16: the input is cut into characters by the
// rules of its charset, decoded, and written in the target charset. The system's code-page
// functions decode and write the legacy code pages; UTF-16, ASCII and Latin-1 are done here.
//
// Where the system lacks code page 54936 (GB18030), GB18030 is served by code page 936
// (GBK) plus the parts of GB18030 that follow a formula: the four-byte forms of the
// characters beyond U+FFFF and the euro sign's two-byte form. The four-byte forms of the
// other BMP characters then count as input that cannot be converted.

enum class Kind { Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be, Gb18030, Ascii, Latin1, CodePage };

struct Charset {
    Kind kind;
    UINT codePage = 0;    // the system code page that does the work, 0 for none
    bool gbkOnly = false; // GB18030 through code page 936
    CPINFO info{};        // lead-byte ranges of a double-byte code page
};

// The Windows code pages 874 and 1250..1258 leave some bytes of 0x80..0x9F undefined, and
// the system maps those to the C1 controls U+0080..U+009F both ways. They are not
// characters of these code pages: reading or writing one is a conversion failure.
bool hasUndefinedC1(const Charset& charset) {
    return charset.kind == Kind::CodePage &&
           (charset.codePage == 874 || (charset.codePage >= 1250 && charset.codePage <= 1258));
}

bool holdsC1Control(std::u16string_view wide) {
    return std::any_of(wide.begin(), wide.end(),
                       [](char16_t unit) { return unit >= 0x80 && unit <= 0x9F; });
}

constexpr UINT kGb18030CodePage = 54936;
constexpr UINT kGbkCodePage = 936;

bool systemHasGb18030() {
    static const bool has = IsValidCodePage(kGb18030CodePage) != FALSE;
    return has;
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The number after a "CP" or "WINDOWS-" prefix; 0 when it is not a plain decimal number.
UINT codePageNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 5)
        return 0;
    UINT value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + static_cast<UINT>(c - '0');
    }
    return value <= 65535 ? value : 0;
}

std::optional<Charset> charsetForCodePage(UINT codePage) {
    switch (codePage) {
    case CP_UTF8:
        return Charset{Kind::Utf8, CP_UTF8};
    case 1200:
        return Charset{Kind::Utf16Le};
    case 1201:
        return Charset{Kind::Utf16Be};
    case 12000:
        return Charset{Kind::Utf32Le};
    case 12001:
        return Charset{Kind::Utf32Be};
    case 20127:
        return Charset{Kind::Ascii};
    case 28591:
        return Charset{Kind::Latin1};
    case kGb18030CodePage:
        if (systemHasGb18030())
            return Charset{Kind::Gb18030, kGb18030CodePage};
        return Charset{Kind::Gb18030, kGbkCodePage, true};
    default:
        break;
    }
    if (codePage == 0 || IsValidCodePage(codePage) == FALSE)
        return std::nullopt;
    Charset charset{Kind::CodePage, codePage};
    // Only single- and double-byte code pages: the stateful and the other multi-byte ones
    // (ISO-2022, UTF-7, EUC with three-byte forms) cannot be cut into characters here.
    if (GetCPInfo(codePage, &charset.info) == FALSE || charset.info.MaxCharSize > 2)
        return std::nullopt;
    return charset;
}

std::optional<Charset> resolveCharset(const std::string& name) {
    const std::string n = upper(name);
    if (n == "UTF-8" || n == "UTF8")
        return charsetForCodePage(CP_UTF8);
    if (n == "UTF-16LE" || n == "UTF16LE")
        return charsetForCodePage(1200);
    if (n == "UTF-16BE" || n == "UTF16BE")
        return charsetForCodePage(1201);
    if (n == "UTF-32LE" || n == "UTF32LE")
        return charsetForCodePage(12000);
    if (n == "UTF-32BE" || n == "UTF32BE")
        return charsetForCodePage(12001);
    if (n == "GB18030")
        return charsetForCodePage(kGb18030CodePage);
    if (n == "GBK")
        return charsetForCodePage(kGbkCodePage);
    if (n == "ASCII" || n == "US-ASCII" || n == "ANSI_X3.4-1968")
        return charsetForCodePage(20127);
    if (n == "ISO-8859-1" || n == "ISO8859-1" || n == "ISO_8859-1" || n == "LATIN1")
        return charsetForCodePage(28591);
    // Other names that web pages declare.
    if (n == "BIG5" || n == "BIG-5" || n == "CN-BIG5")
        return charsetForCodePage(950);
    if (n == "SHIFT_JIS" || n == "SHIFT-JIS" || n == "SJIS" || n == "MS_KANJI")
        return charsetForCodePage(932);
    if (n == "EUC-KR")
        return charsetForCodePage(949);
    if (n == "KOI8-R")
        return charsetForCodePage(20866);
    if (n == "KOI8-U")
        return charsetForCodePage(21866);
    for (const char* prefix : {"ISO-8859-", "ISO8859-", "ISO_8859-"}) {
        if (!n.starts_with(prefix))
            continue;
        // ISO-8859-2..16 are code pages 28592..28606 (where the system has them).
        const UINT part = codePageNumber(std::string_view(n).substr(std::strlen(prefix)));
        if (part >= 2 && part <= 16)
            return charsetForCodePage(28590 + part);
        return std::nullopt;
    }
    // A code page by number; the Unicode ones and GB18030 go by their names only.
    UINT number = 0;
    if (n.starts_with("CP"))
        number = codePageNumber(std::string_view(n).substr(2));
    else if (n.starts_with("WINDOWS-"))
        number = codePageNumber(std::string_view(n).substr(8));
    if (number == CP_UTF8 || number == 1200 || number == 1201 || number == 12000 ||
        number == 12001 || number == kGb18030CodePage)
        return std::nullopt;
    return charsetForCodePage(number);
}

// ---------------------------------------------------------------------------------------
// Cutting input into characters.

struct Piece {
    enum Status { Whole, Bad, Cut } status;
    std::size_t size = 0; // of a whole character
};

unsigned byteAt(std::string_view bytes, std::size_t i) {
    return static_cast<unsigned char>(bytes[i]);
}

bool inRange(unsigned value, unsigned low, unsigned high) {
    return value >= low && value <= high;
}

// Well-formed UTF-8 only (no overlong forms, no surrogates, nothing past U+10FFFF). A
// sequence cut short by the end of the input is Cut when its bytes so far are a lead byte
// and continuation bytes.
Piece utf8Piece(std::string_view rest) {
    const unsigned lead = byteAt(rest, 0);
    if (lead < 0x80)
        return {Piece::Whole, 1};
    std::size_t follow = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (inRange(lead, 0xC2, 0xDF)) {
        follow = 1;
    } else if (inRange(lead, 0xE0, 0xEF)) {
        follow = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (inRange(lead, 0xF0, 0xF4)) {
        follow = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {Piece::Bad};
    }
    if (rest.size() <= follow) {
        for (std::size_t i = 1; i < rest.size(); ++i)
            if (!inRange(byteAt(rest, i), 0x80, 0xBF))
                return {Piece::Bad};
        return {Piece::Cut};
    }
    if (!inRange(byteAt(rest, 1), low, high))
        return {Piece::Bad};
    for (std::size_t i = 2; i <= follow; ++i)
        if (!inRange(byteAt(rest, i), 0x80, 0xBF))
            return {Piece::Bad};
    return {Piece::Whole, follow + 1};
}

char16_t utf16Unit(std::string_view bytes, std::size_t at, bool bigEndian) {
    const unsigned first = byteAt(bytes, at);
    const unsigned second = byteAt(bytes, at + 1);
    return static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first);
}

bool isHighSurrogate(unsigned unit) {
    return inRange(unit, 0xD800, 0xDBFF);
}

bool isLowSurrogate(unsigned unit) {
    return inRange(unit, 0xDC00, 0xDFFF);
}

Piece utf16Piece(std::string_view rest, bool bigEndian) {
    if (rest.size() < 2)
        return {Piece::Cut};
    const char16_t unit = utf16Unit(rest, 0, bigEndian);
    if (isLowSurrogate(unit))
        return {Piece::Bad};
    if (!isHighSurrogate(unit))
        return {Piece::Whole, 2};
    if (rest.size() < 4)
        return {Piece::Cut};
    return isLowSurrogate(utf16Unit(rest, 2, bigEndian)) ? Piece{Piece::Whole, 4}
                                                         : Piece{Piece::Bad};
}

// GB18030's shapes: one byte below 0x80; a lead byte 0x81..0xFE with a trail byte
// 0x40..0x7E or 0x80..0xFE; or lead, digit, lead, digit.
Piece gb18030Piece(std::string_view rest) {
    const unsigned lead = byteAt(rest, 0);
    if (lead < 0x80)
        return {Piece::Whole, 1};
    if (lead == 0x80 || lead == 0xFF)
        return {Piece::Bad};
    if (rest.size() < 2)
        return {Piece::Cut};
    const unsigned second = byteAt(rest, 1);
    if (inRange(second, 0x40, 0x7E) || inRange(second, 0x80, 0xFE))
        return {Piece::Whole, 2};
    if (!inRange(second, 0x30, 0x39))
        return {Piece::Bad};
    // A four-byte form cut short only when what there is of it fits the form.
    if (rest.size() >= 3 && !inRange(byteAt(rest, 2), 0x81, 0xFE))
        return {Piece::Bad};
    if (rest.size() < 4)
        return {Piece::Cut};
    if (!inRange(byteAt(rest, 2), 0x81, 0xFE) || !inRange(byteAt(rest, 3), 0x30, 0x39))
        return {Piece::Bad};
    return {Piece::Whole, 4};
}

bool isLeadByte(const CPINFO& info, unsigned byte) {
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2)
        if (inRange(byte, info.LeadByte[i], info.LeadByte[i + 1]))
            return true;
    return false;
}

// A UTF-32 unit: four bytes in the given order.
std::uint32_t utf32Unit(std::string_view bytes, std::size_t at, bool bigEndian) {
    std::uint32_t unit = 0;
    for (std::size_t k = 0; k < 4; ++k)
        unit |= std::uint32_t{byteAt(bytes, at + k)} << (bigEndian ? 24 - 8 * k : 8 * k);
    return unit;
}

Piece utf32Piece(std::string_view rest, bool bigEndian) {
    if (rest.size() < 4)
        return {Piece::Cut};
    const std::uint32_t unit = utf32Unit(rest, 0, bigEndian);
    return unit > 0x10FFFF || inRange(unit, 0xD800, 0xDFFF) ? Piece{Piece::Bad}
                                                            : Piece{Piece::Whole, 4};
}

Piece nextPiece(const Charset& charset, std::string_view rest) {
    switch (charset.kind) {
    case Kind::Utf32Le:
        return utf32Piece(rest, false);
    case Kind::Utf32Be:
        return utf32Piece(rest, true);
    case Kind::Utf8:
        return utf8Piece(rest);
    case Kind::Utf16Le:
        return utf16Piece(rest, false);
    case Kind::Utf16Be:
        return utf16Piece(rest, true);
    case Kind::Gb18030:
        return gb18030Piece(rest);
    case Kind::Ascii:
        return byteAt(rest, 0) < 0x80 ? Piece{Piece::Whole, 1} : Piece{Piece::Bad};
    case Kind::Latin1:
        return {Piece::Whole, 1};
    case Kind::CodePage:
        if (charset.info.MaxCharSize == 2 && isLeadByte(charset.info, byteAt(rest, 0)))
            return rest.size() < 2 ? Piece{Piece::Cut} : Piece{Piece::Whole, 2};
        return {Piece::Whole, 1};
    }
    return {Piece::Bad};
}

// ---------------------------------------------------------------------------------------
// GB18030 beyond GBK, for systems without code page 54936.

constexpr std::uint32_t kFourByteSupplementaryStart = 189000; // 0x90308130 as a linear index

std::optional<char32_t> gb18030FourByteToCodePoint(std::string_view bytes) {
    const std::uint32_t linear =
        ((byteAt(bytes, 0) - 0x81) * 10 + (byteAt(bytes, 1) - 0x30)) * 1260 +
        (byteAt(bytes, 2) - 0x81) * 10 + (byteAt(bytes, 3) - 0x30);
    if (linear < kFourByteSupplementaryStart)
        return std::nullopt; // a BMP character: needs the system's table
    const std::uint32_t codePoint = linear - kFourByteSupplementaryStart + 0x10000;
    if (codePoint > 0x10FFFF)
        return std::nullopt;
    return static_cast<char32_t>(codePoint);
}

std::string gb18030FourByteForm(char32_t codePoint) {
    std::uint32_t linear = codePoint - 0x10000 + kFourByteSupplementaryStart;
    std::string bytes(4, '\0');
    bytes[3] = static_cast<char>(0x30 + linear % 10);
    linear /= 10;
    bytes[2] = static_cast<char>(0x81 + linear % 126);
    linear /= 126;
    bytes[1] = static_cast<char>(0x30 + linear % 10);
    bytes[0] = static_cast<char>(0x81 + linear / 10);
    return bytes;
}

constexpr char16_t kEuroSign = 0x20AC;
constexpr std::string_view kGb18030Euro = "\xA2\xE3";

// ---------------------------------------------------------------------------------------
// Decoding and writing through the system.

bool fitsInt(std::size_t size) {
    return size <= static_cast<std::size_t>(INT_MAX / 4);
}

std::optional<std::u16string> systemDecode(UINT codePage, std::string_view bytes) {
    if (bytes.empty())
        return std::u16string();
    if (!fitsInt(bytes.size()))
        return std::nullopt;
    const int inSize = static_cast<int>(bytes.size());
    const int size =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), inSize, nullptr, 0);
    if (size <= 0)
        return std::nullopt;
    std::u16string wide(static_cast<std::size_t>(size), u'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), inSize,
                            reinterpret_cast<wchar_t*>(wide.data()), size) != size)
        return std::nullopt;
    return wide;
}

// Nothing when a character cannot be written: UTF-8 and GB18030 fail on unpaired
// surrogates, the other code pages on anything they would have to replace or approximate.
std::optional<std::string> systemEncode(UINT codePage, std::u16string_view wide) {
    if (wide.empty())
        return std::string();
    if (!fitsInt(wide.size()))
        return std::nullopt;
    const bool unicode = codePage == CP_UTF8 || codePage == kGb18030CodePage;
    const DWORD flags = unicode ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const auto* in = reinterpret_cast<const wchar_t*>(wide.data());
    const int inSize = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = unicode ? nullptr : &usedDefault;
    const int size =
        WideCharToMultiByte(codePage, flags, in, inSize, nullptr, 0, nullptr, usedDefaultOut);
    if (size <= 0 || usedDefault)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(codePage, flags, in, inSize, bytes.data(), size, nullptr,
                            usedDefaultOut) != size ||
        usedDefault)
        return std::nullopt;
    return bytes;
}

void appendCodePoint(std::u16string& wide, char32_t codePoint) {
    if (codePoint < 0x10000) {
        wide += static_cast<char16_t>(codePoint);
        return;
    }
    codePoint -= 0x10000;
    wide += static_cast<char16_t>(0xD800 + (codePoint >> 10));
    wide += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
}

// GB18030 through code page 936, one character at a time.
std::optional<std::u16string> decodeGbkOnly(std::string_view bytes) {
    std::u16string wide;
    wide.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::string_view rest = bytes.substr(at);
        const Piece piece = gb18030Piece(rest);
        if (piece.status != Piece::Whole)
            return std::nullopt;
        const std::string_view character = rest.substr(0, piece.size);
        if (piece.size == 1) {
            wide += static_cast<char16_t>(byteAt(character, 0));
        } else if (character == kGb18030Euro) {
            wide += kEuroSign;
        } else if (piece.size == 4) {
            const auto codePoint = gb18030FourByteToCodePoint(character);
            if (!codePoint)
                return std::nullopt;
            appendCodePoint(wide, *codePoint);
        } else {
            const auto decoded = systemDecode(kGbkCodePage, character);
            if (!decoded)
                return std::nullopt;
            wide += *decoded;
        }
        at += piece.size;
    }
    return wide;
}

std::optional<std::string> encodeGbkOnly(std::u16string_view wide) {
    std::string bytes;
    bytes.reserve(wide.size() * 2);
    std::size_t at = 0;
    while (at < wide.size()) {
        const char16_t unit = wide[at];
        if (unit < 0x80) {
            bytes += static_cast<char>(unit);
            ++at;
        } else if (unit == kEuroSign) {
            bytes += kGb18030Euro;
            ++at;
        } else if (isHighSurrogate(unit) && at + 1 < wide.size() && isLowSurrogate(wide[at + 1])) {
            const char32_t codePoint =
                0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (wide[at + 1] - 0xDC00);
            bytes += gb18030FourByteForm(codePoint);
            at += 2;
        } else {
            const auto encoded = systemEncode(kGbkCodePage, wide.substr(at, 1));
            // Code page 936 writes one byte only for ASCII and its own euro sign 0x80,
            // which GB18030 does not have.
            if (!encoded || (encoded->size() == 1 && byteAt(*encoded, 0) >= 0x80))
                return std::nullopt;
            bytes += *encoded;
            ++at;
        }
    }
    return bytes;
}

// The whole input, when every character in it is valid.
std::optional<std::u16string> decode(const Charset& charset, std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const Piece piece = nextPiece(charset, bytes.substr(at));
        if (piece.status != Piece::Whole)
            return std::nullopt;
        at += piece.size;
    }
    switch (charset.kind) {
    case Kind::Utf16Le:
    case Kind::Utf16Be: {
        std::u16string wide(bytes.size() / 2, u'\0');
        for (std::size_t i = 0; i < wide.size(); ++i)
            wide[i] = utf16Unit(bytes, i * 2, charset.kind == Kind::Utf16Be);
        return wide;
    }
    case Kind::Utf32Le:
    case Kind::Utf32Be: {
        std::u16string wide;
        for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4)
            appendCodePoint(wide, utf32Unit(bytes, i, charset.kind == Kind::Utf32Be));
        return wide;
    }
    case Kind::Ascii:
    case Kind::Latin1: {
        std::u16string wide(bytes.size(), u'\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            wide[i] = static_cast<char16_t>(byteAt(bytes, i));
        return wide;
    }
    case Kind::Gb18030:
        if (charset.gbkOnly)
            return decodeGbkOnly(bytes);
        return systemDecode(charset.codePage, bytes);
    case Kind::Utf8:
        return systemDecode(charset.codePage, bytes);
    case Kind::CodePage: {
        auto wide = systemDecode(charset.codePage, bytes);
        if (wide && hasUndefinedC1(charset) && holdsC1Control(*wide))
            return std::nullopt;
        return wide;
    }
    }
    return std::nullopt;
}

// The whole text in the charset, when every character in it can be written.
std::optional<std::string> encode(const Charset& charset, std::u16string_view wide) {
    switch (charset.kind) {
    case Kind::Utf16Le:
    case Kind::Utf16Be: {
        for (std::size_t i = 0; i < wide.size(); ++i) {
            if (isLowSurrogate(wide[i]))
                return std::nullopt;
            if (isHighSurrogate(wide[i])) {
                if (i + 1 >= wide.size() || !isLowSurrogate(wide[i + 1]))
                    return std::nullopt;
                ++i;
            }
        }
        const bool bigEndian = charset.kind == Kind::Utf16Be;
        std::string bytes(wide.size() * 2, '\0');
        for (std::size_t i = 0; i < wide.size(); ++i) {
            const unsigned unit = wide[i];
            bytes[i * 2 + (bigEndian ? 1 : 0)] = static_cast<char>(unit & 0xFF);
            bytes[i * 2 + (bigEndian ? 0 : 1)] = static_cast<char>(unit >> 8);
        }
        return bytes;
    }
    case Kind::Utf32Le:
    case Kind::Utf32Be: {
        const bool bigEndian = charset.kind == Kind::Utf32Be;
        std::string bytes;
        for (std::size_t i = 0; i < wide.size(); ++i) {
            std::uint32_t codePoint = wide[i];
            if (isLowSurrogate(codePoint))
                return std::nullopt;
            if (isHighSurrogate(codePoint)) {
                if (i + 1 >= wide.size() || !isLowSurrogate(wide[i + 1]))
                    return std::nullopt;
                codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (wide[++i] - 0xDC00u);
            }
            for (std::size_t k = 0; k < 4; ++k)
                bytes += static_cast<char>(codePoint >> (bigEndian ? 24 - 8 * k : 8 * k));
        }
        return bytes;
    }
    case Kind::Ascii:
    case Kind::Latin1: {
        const char16_t limit = charset.kind == Kind::Ascii ? 0x80 : 0x100;
        std::string bytes(wide.size(), '\0');
        for (std::size_t i = 0; i < wide.size(); ++i) {
            if (wide[i] >= limit)
                return std::nullopt;
            bytes[i] = static_cast<char>(wide[i]);
        }
        return bytes;
    }
    case Kind::Gb18030:
        if (charset.gbkOnly)
            return encodeGbkOnly(wide);
        return systemEncode(charset.codePage, wide);
    case Kind::Utf8:
        return systemEncode(charset.codePage, wide);
    case Kind::CodePage:
        if (hasUndefinedC1(charset) && holdsC1Control(wide))
            return std::nullopt;
        return systemEncode(charset.codePage, wide);
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------

// Without a replacement policy (strict) invalid or unwritable input fails the conversion;
// with one it is replaced and skipped.
struct Lenience {
    std::string_view replacement;
    const std::function<std::size_t(std::string_view rest)>* skip;
};

std::optional<std::string> convert(std::string_view input, const std::string& fromName,
                                   const std::string& toName, const Lenience* lenience) {
    const auto from = resolveCharset(fromName);
    const auto to = resolveCharset(toName);
    if (!from || !to)
        return std::nullopt;
    // All at once when nothing in the input is wrong, which is the usual case.
    if (const auto wide = decode(*from, input)) {
        if (auto whole = encode(*to, *wide))
            return whole;
    }
    // Otherwise character by character, to find what is wrong.
    std::string out;
    out.reserve(input.size() * 2);
    std::size_t at = 0;
    while (at < input.size()) {
        const std::string_view rest = input.substr(at);
        const Piece piece = nextPiece(*from, rest);
        if (piece.status == Piece::Cut) { // cut short at the end: nothing more can follow
            if (lenience == nullptr)
                return std::nullopt;
            out += lenience->replacement;
            break;
        }
        if (piece.status == Piece::Whole) {
            const auto wide = decode(*from, rest.substr(0, piece.size));
            const auto written = wide ? encode(*to, *wide) : std::nullopt;
            if (written) {
                out += *written;
                at += piece.size;
                continue;
            }
        }
        if (lenience == nullptr)
            return std::nullopt;
        out += lenience->replacement;
        const auto& skip = *lenience->skip;
        const std::size_t step = skip ? skip(rest) : 1;
        at += std::min(std::max<std::size_t>(step, 1), rest.size());
    }
    return out;
}

std::string utf8FromWide(const wchar_t* wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(size) - 1);
    return text;
}

std::wstring wideFromUtf8(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1)
        return {};
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), size);
    wide.resize(static_cast<std::size_t>(size) - 1);
    return wide;
}

bool isFolder(const std::string& path) {
    if (path.empty())
        return false;
    const DWORD attributes = GetFileAttributesW(wideFromUtf8(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::string result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) && path != nullptr)
        result = utf8FromWide(path);
    CoTaskMemFree(path);
    return result;
}

// Drops a trailing separator unless the path is a drive's root ("C:\").
std::string withoutTrailingSeparator(std::string path) {
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

} // namespace

std::optional<std::string> convertCharset(std::string_view input, const std::string& from,
                                          const std::string& to) {
    return convert(input, from, to, nullptr);
}

std::optional<std::string>
convertCharsetLenient(std::string_view input, const std::string& from, const std::string& to,
                      std::string_view replacement,
                      const std::function<std::size_t(std::string_view rest)>& skip) {
    const Lenience lenience{replacement, &skip};
    return convert(input, from, to, &lenience);
}

bool isKnownCharset(const std::string& name) {
    return resolveCharset(name).has_value();
}

std::uint32_t tickCount() {
    return static_cast<std::uint32_t>(GetTickCount());
}

bool uses12HourClock() {
    wchar_t setting[4] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_ITIME, setting, 4) <= 0)
        return false;
    return setting[0] == L'0'; // "0" a 12-hour clock, "1" a 24-hour one
}

std::tm localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm result{};
    localtime_s(&result, &now);
    return result;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    const std::wstring widePath = wideFromUtf8(path);
    if (widePath.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    std::string plainMode;
    bool exclusive = false;
    for (const char* m = mode; *m; ++m) {
        if (*m == 'x')
            exclusive = true;
        else
            plainMode += *m;
    }
    if (!exclusive)
        return _wfopen(widePath.c_str(), wideFromUtf8(plainMode).c_str());
    // The C runtime's fopen may not know "x": create the file exclusively, then open a
    // stream on it. Only for writing, which is what "x" is for.
    const bool binary = plainMode.find('b') != std::string::npos;
    const bool update = plainMode.find('+') != std::string::npos;
    if (plainMode.empty() || plainMode[0] != 'w') {
        errno = EINVAL;
        return nullptr;
    }
    const int flags = _O_CREAT | _O_EXCL | _O_TRUNC | (update ? _O_RDWR : _O_WRONLY) |
                      (binary ? _O_BINARY : _O_TEXT);
    const int descriptor = _wopen(widePath.c_str(), flags, _S_IREAD | _S_IWRITE);
    if (descriptor < 0)
        return nullptr;
    std::FILE* file = _fdopen(descriptor, plainMode.c_str());
    if (file == nullptr) {
        const int error = errno;
        _close(descriptor);
        errno = error;
    }
    return file;
}

std::string desktopFolder() {
    std::string desktop = withoutTrailingSeparator(knownFolder(FOLDERID_Desktop));
    if (isFolder(desktop))
        return desktop;
    std::string home = withoutTrailingSeparator(knownFolder(FOLDERID_Profile));
    if (!home.empty())
        return home;
    if (const wchar_t* profile = _wgetenv(L"USERPROFILE"); profile && *profile)
        return withoutTrailingSeparator(utf8FromWide(profile));
    return ".";
}

namespace {

// Small stacks are fine for the pool's loops but not for the task code they call. Stacks
// are reserved in steps of the allocation granularity.
constexpr std::size_t leastThreadStack = std::size_t{64} << 10;
constexpr std::size_t stackGranularity = std::size_t{64} << 10;

DWORD WINAPI threadEntry(LPVOID arg) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return 0;
}

} // namespace

bool startThread(std::function<void()> body, std::size_t stackSize) {
    if (!body)
        return false;
    auto* heapBody = new (std::nothrow) std::function<void()>(std::move(body));
    if (heapBody == nullptr)
        return false;
    SIZE_T reserve = 0; // the executable's default
    DWORD flags = 0;
    if (stackSize > 0) {
        const std::size_t size = std::max(stackSize, leastThreadStack);
        if (size > SIZE_MAX - stackGranularity) {
            delete heapBody;
            return false;
        }
        reserve = (size + stackGranularity - 1) / stackGranularity * stackGranularity;
        flags = STACK_SIZE_PARAM_IS_A_RESERVATION;
    }
    HANDLE thread = CreateThread(nullptr, reserve, threadEntry, heapBody, flags, nullptr);
    if (thread == nullptr) {
        delete heapBody;
        return false;
    }
    CloseHandle(thread);
    return true;
}

bool userMayWrite(const std::string& path) {
    const std::wstring name = wideFromUtf8(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true; // no such file
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return false;
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_ACCESS_DENIED;
    CloseHandle(handle);
    return true;
}

void lowerCurrentThreadPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

bool isTerminal(StandardStream stream) {
    DWORD mode = 0;
    const HANDLE handle =
        GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

namespace {

std::atomic<int> interrupts{0};

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (interrupts.fetch_add(1) > 0)
        ExitProcess(130); // the second interrupt: end at once
    return TRUE;
}

} // namespace

void installInterruptHandler() {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool interruptRequested() {
    return interrupts.load() > 0;
}

} // namespace corvanta::platform
