#pragma once

#include <string>
#include <string_view>

namespace corvanta {

// Turns a response body into UTF-8 text. A charset declared in a meta tag within the first
// 1024 bytes decodes the whole body (gbk and gb2312 as GB18030); without a declaration, or
// with one the converter does not know, a valid UTF-8 body stays as it is and any other is
// read as GB18030. Bytes that do not fit the charset become U+FFFD, one per byte, and the
// rest is decoded, so the result is always well-formed UTF-8. The text ends at its first NUL.
std::string decodeResponseText(std::string_view bodyText, std::string_view bodyBytes);

} // namespace corvanta
