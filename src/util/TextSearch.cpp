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
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= text.size() || sought.size() > text.size() - from)
        return -1;

    const auto equal = [](char a, char b) { return foldAscii(a) == foldAscii(b); };
    // A match covers whole characters: it begins and ends at character boundaries, where a
    // byte that belongs to no well-formed character counts as a character of its own.
    for (std::size_t pos = from; pos + sought.size() <= text.size(); ++pos) {
        if (ignoreCase) {
            const auto it = std::search(text.begin() + static_cast<std::ptrdiff_t>(pos), text.end(),
                                        sought.begin(), sought.end(), equal);
            pos = it == text.end() ? std::string_view::npos
                                   : static_cast<std::size_t>(it - text.begin());
        } else {
            pos = text.find(sought, pos);
        }
        if (pos == std::string_view::npos)
            return -1;
        if (utf8::isBoundary(text, pos) && utf8::isBoundary(text, pos + sought.size())) {
            if (pos >= static_cast<std::size_t>(INT_MAX))
                return -1;
            return static_cast<int>(pos) + 1;
        }
    }
    return -1;
}

std::string asciiLowercase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

} // namespace corvanta
