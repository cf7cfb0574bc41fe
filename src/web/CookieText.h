#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

// A cookie string is "name=value; name=value". Trimming removes ASCII spaces and the
// ideographic space U+3000 at both ends; tabs stay.
std::string trimCookieText(std::string_view text);

// Splits at "; ": an empty piece between two separators counts, a final separator adds
// no empty piece, and an empty text gives no pieces.
std::vector<std::string> splitCookieText(std::string_view text);

// The name of a cookie part: the trimmed text before its first "=", or the whole part.
std::string cookieName(std::string_view part);

// The cookie a response header line sets ("Set-Cookie: a=1; Path=/" gives "a=1"), or
// empty when the line is not a Set-Cookie line.
std::string setCookieFromLine(std::string_view line);

// Merges the received cookies over the sent ones: received first in their order, then the
// sent ones of other names; "=deleted" parts and repeated parts are dropped. The result
// also replaces `oldCookies`.
std::string mergeCookieText(std::string& oldCookies, const std::string& newCookies);

} // namespace corvanta
