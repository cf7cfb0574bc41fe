#pragma once

#include <string>
#include <string_view>

namespace corvanta::xls {

// Converts UTF-8 text to UTF-16 code units (characters outside the BMP become surrogate
// pairs). Each malformed byte sequence becomes U+FFFD, so any input gives a valid result.
std::u16string utf8ToUtf16(std::string_view text);

// True when every code unit fits in one byte, so BIFF8 can store the text compressed.
bool fitsInOneByte(std::u16string_view units);

} // namespace corvanta::xls
