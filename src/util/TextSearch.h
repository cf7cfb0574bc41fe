#pragma once

// Plain substring search over UTF-8 text, used to look for markers in service answers and
// for delimiters in textBetween.

#include <string>
#include <string_view>

namespace corvanta {

// The 1-based byte position of the first occurrence of `sought` in `text` at or after byte
// position `start`, or -1. Empty `text` or `sought` gives -1; a start below 1 counts as 1 and
// a start beyond the end finds nothing. With `ignoreCase` only ASCII A-Z and a-z are taken
// as equal. A match covers whole characters: it begins and ends at character boundaries,
// and every byte that is not part of a well-formed character counts as one character.
int findText(std::string_view text, std::string_view sought, int start = 0,
             bool ignoreCase = false);

// The text with ASCII A-Z made a-z; every other byte, UTF-8 ones included, as it was.
std::string asciiLowercase(std::string text);

} // namespace corvanta
