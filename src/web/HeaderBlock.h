#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

// Splits a header block at CR LF: an empty piece between two CR LF counts, a final CR LF
// adds no empty piece, and an empty block gives no pieces.
std::vector<std::string_view> splitAtCrLf(std::string_view block);

// Appends the default request lines (user agent, accept, encoding, language, the form
// content type for POST, no-cache) that the block does not mention yet, each with CR LF.
std::string completeDefaultHeaders(std::string_view block, int method);

// Keeps the lines that hold a colon, capitalises the name's first letter and every letter
// after a "-", and joins them with CR LF without a line end after the last.
std::string normalizeHeaderBlock(std::string_view block);

// Removes "Connection: keep-alive" lines (with their CR LF) when that is the value of the
// first line that starts with "Connection".
std::string dropKeepAliveLine(std::string_view block);

// Value of the first line that starts with `name` (exact case): the text after the last
// "name: " in that line, or empty.
std::string headerValue(std::string_view block, std::string_view name);

// The request header block as sent: the caller's lines, the defaults when asked, names
// normalised when asked, a keep-alive line dropped, then the Cookie line when the block
// has none and cookies are given.
std::string assembleRequestHeaders(std::string_view extraHeaders, int method,
                                   std::string_view sendCookies, bool addDefaultHeaders,
                                   bool normalizeHeaders);

} // namespace corvanta
