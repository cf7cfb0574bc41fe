#pragma once

// Small UTF-8 facts shared by the text searches and the matcher. Texts that are not valid
// UTF-8 (raw legacy bytes) are handled byte by byte: every byte of an invalid sequence
// counts as one character of its own.

#include <cstddef>
#include <string>
#include <string_view>

namespace corvanta::utf8 {

// A byte of the form 10xxxxxx, which never starts a character.
inline bool isContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
}

// Length in bytes of the well-formed character that starts at `pos` (1 to 4), or 0 when
// the bytes there are not a well-formed UTF-8 character (or `pos` is at the end).
std::size_t sequenceLength(std::string_view text, std::size_t pos);

// The number of UTF-16 code units the text takes: two for a character beyond U+FFFF, one
// for every other character and one for every byte that is not part of a valid character.
std::size_t utf16Length(std::string_view text);

// The first character boundary after `pos`: one well-formed character further, or one
// byte further when the bytes at `pos` are not a valid character.
std::size_t nextCharacter(std::string_view text, std::size_t pos);

// True when the whole text is well-formed UTF-8.
bool isValid(std::string_view text);

// True when a character starts at `pos` (or `pos` is the end): the byte there is not a
// continuation byte, or it is one that no well-formed character before it covers.
bool isBoundary(std::string_view text, std::size_t pos);

// The text with every byte that is not part of a well-formed character replaced by U+FFFD.
std::string withReplacements(std::string_view text);

} // namespace corvanta::utf8
