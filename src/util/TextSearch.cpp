#include "util/TextSearch.h"

#include "util/Utf8.h"

#include <algorithm>
#include <climits>
#include <cstddef>

namespace corvanta {

namespace {

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

int findText(std::string_view text, std::string_view sought, int start, bool ignoreCase) {
    if (text.empty() || sought.empty())
        return -1;
    // A needle that begins inside a character could only match mid-character. Every other
    // needle can only match where its first byte does, which then is not a continuation
    // byte either, so no further boundary check is needed below.
    if (utf8::isContinuationByte(sought.front()))
        return -1;
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= text.size() || sought.size() > text.size() - from)
        return -1;

    std::size_t found = std::string_view::npos;
    if (!ignoreCase) {
        found = text.find(sought, from);
    } else {
        const auto it = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                                    sought.begin(), sought.end(),
                                    [](char a, char b) { return foldAscii(a) == foldAscii(b); });
        if (it != text.end())
            found = static_cast<std::size_t>(it - text.begin());
    }
    if (found == std::string_view::npos || found >= static_cast<std::size_t>(INT_MAX))
        return -1;
    return static_cast<int>(found) + 1;
}

} // namespace corvanta
