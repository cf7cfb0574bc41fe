#pragma once

// Text laid out for a terminal: widths in columns, with East Asian characters taking two.

#include <string>
#include <string_view>

namespace corvanta::cli {

// The text with every character a terminal would act on (C0 and C1 controls, DEL) and every
// byte that is not valid UTF-8 replaced by U+FFFD, so that a keyword can never move the
// cursor or change the terminal's state.
std::string printable(std::string_view text);

// Columns a printable UTF-8 text takes on a terminal: two for wide and full-width characters
// (CJK ideographs, kana, hangul, full-width forms, most emoji), none for combining marks,
// one for the rest.
int displayWidth(std::string_view text);

// The printable text cut to at most `width` columns, ending with "…" when it was cut.
std::string fitWidth(std::string_view text, int width);

// The text padded with blanks to `width` columns, on the right (left-aligned) or the left.
std::string padRight(std::string_view text, int width);
std::string padLeft(std::string_view text, int width);

// A duration for people: "4.2 s" below a minute, "3:07" below an hour, "1:02:03" beyond.
std::string formatDuration(double seconds);

} // namespace corvanta::cli
