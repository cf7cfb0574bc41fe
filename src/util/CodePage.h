#pragma once

// Conversions between internal UTF-8 text, UTF-16 and Windows code pages, for the edges
// where legacy bytes come in or must go out. Code pages go by their Windows numbers: 936 is
// the legacy code page (its bytes are GB18030's: GBK bytes for every GBK character, nothing
// lost for the rest, and a lone 0x80 is the euro sign as in Windows), and so are 0, 1 and 3,
// the system's own code pages; 65001 UTF-8, 1200/1201 UTF-16LE/BE, 12000/12001 UTF-32LE/BE,
// 20127 US-ASCII, 2859x ISO-8859-x, 54936 GB18030, and the Windows and DOS code pages by
// their numbers (1252, 950, 866...). A code page the program does not know gives an empty
// result.
//
// Texts end at their first NUL character: conversion stops there. Invalid input never makes
// a conversion fail or drop the valid part: a byte sequence that is not valid in its code
// page becomes U+FFFD (one per offending byte, one per unit for UTF-16), an unpaired
// surrogate likewise, and a character the target code page cannot write becomes "?"
// (U+FFFD for the Unicode code pages). Safe on any number of threads at once.

#include <string>
#include <string_view>

namespace corvanta {

inline constexpr int kLegacyCodePage = 936;
inline constexpr int kUtf8CodePage = 65001;

// Bytes in the code page to UTF-16.
std::u16string codePageToWide(std::string_view text, int codePage = kUtf8CodePage);

// UTF-16 to bytes in the code page.
std::string wideToCodePage(std::u16string_view wide, int codePage = kLegacyCodePage);

// Legacy (GB18030/GBK) bytes to UTF-8.
std::string ansiToUtf8(std::string_view legacyText);

// UTF-8 to legacy GB18030 bytes, for export files and legacy percent-encoding.
std::string utf8ToAnsi(std::string_view utf8Text);

} // namespace corvanta
