#include "util/Utf8.h"

namespace corvanta::utf8 {

std::size_t sequenceLength(std::string_view text, std::size_t pos) {
    if (pos >= text.size())
        return 0;
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;  // allowed range of the second byte (rejects overlongs,
    unsigned char high = 0xBF; // surrogates and values beyond U+10FFFF)
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - pos < length)
        return 0;
    if (at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!isContinuationByte(text[pos + i]))
            return 0;
    }
    return length;
}

std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t length = sequenceLength(text, pos);
        units += length == 4 ? 2 : 1;
        pos += length == 0 ? 1 : length;
    }
    return units;
}

std::size_t nextCharacter(std::string_view text, std::size_t pos) {
    const std::size_t length = sequenceLength(text, pos);
    return pos + (length == 0 ? 1 : length);
}

bool isValid(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = sequenceLength(text, pos);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

bool isBoundary(std::string_view text, std::size_t pos) {
    if (pos >= text.size() || !isContinuationByte(text[pos]))
        return true;
    // A lead byte is always a boundary, so only a well-formed character starting at one of
    // the three bytes before can cover this one.
    for (std::size_t back = 1; back <= 3 && back <= pos; ++back) {
        if (!isContinuationByte(text[pos - back]))
            return sequenceLength(text, pos - back) <= back;
    }
    return true;
}

std::string withReplacements(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = sequenceLength(text, pos);
        if (length == 0) {
            result.append("\xEF\xBF\xBD");
            ++pos;
        } else {
            result.append(text.substr(pos, length));
            pos += length;
        }
    }
    return result;
}

} // namespace corvanta::utf8
