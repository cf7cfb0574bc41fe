#pragma once

#include <string_view>

namespace corvanta {

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values
// beyond U+10FFFF).
bool isValidUtf8(std::string_view bytes);

} // namespace corvanta
