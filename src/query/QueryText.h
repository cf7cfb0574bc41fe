#pragma once

// Text helpers of the keyword query: the keyword as a request parameter value and values cut
// out of the service's answer. Plain functions, safe on any number of threads at once.

#include <string>
#include <string_view>

namespace corvanta {

// Percent-encodes the keyword `text` (UTF-8, up to its first NUL) byte by byte with two
// upper-case hex digits: its UTF-8 bytes when `asUtf8`, otherwise its legacy GB18030 bytes
// (GBK bytes for every GBK character). With `keepAlnum`, the bytes - . 0-9 A-Z a-z stay as
// they are; every other byte, a blank included, is encoded (a blank as %20). With `asUtf8`
// the bytes are taken as given, even when they are not valid UTF-8.
std::string percentEncodeUtf8(std::string_view text, bool keepAlnum = false, bool asUtf8 = false);

// The text between the first occurrence of `left` at or after byte position `start` (1-based;
// below 1 counts as 1) and the next occurrence of `right` after it; empty when either is
// missing or empty. "#引号" in a delimiter stands for a double quote. Delimiters are found
// only at character boundaries. With `ignoreCase` ASCII letters and the full-width Latin
// letters match regardless of case.
std::string textBetween(std::string_view text, std::string_view left, std::string_view right,
                        int start = 1, bool ignoreCase = false);

// The worker count typed into the window: leading blanks skipped, then an optional sign and
// the decimal digits up to the first other character; full-width digits, signs and the
// ideographic space count as their ASCII forms. 0 for a text without a number; values
// beyond the int range are clamped to it.
int parseWorkerCount(std::string_view text);

// A cookie as pasted, as one Cookie line: every line of it trimmed of blanks, empty lines
// dropped, the rest joined by "; " (a line's own trailing ";" is not doubled).
std::string cookieLine(std::string_view pasted);

} // namespace corvanta
