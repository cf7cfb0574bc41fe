#include "export/xls/Utf16.h"

#include <cstdint>

namespace corvanta::xls {

namespace {

constexpr char16_t replacementCharacter = 0xFFFD;

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

} // namespace

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            out.push_back(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        // The length of the sequence and the range its second byte must lie in; narrower
        // ranges after E0, ED, F0 and F4 exclude overlong forms, surrogates and values
        // beyond U+10FFFF.
        std::size_t length = 0;
        std::uint32_t code = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        }
        std::size_t taken = 1;
        while (taken < length && i + taken < size) {
            const unsigned char next = bytes[i + taken];
            const bool valid = taken == 1 ? next >= low && next <= high : isContinuation(next);
            if (!valid) {
                break;
            }
            code = (code << 6) | (next & 0x3F);
            ++taken;
        }
        if (taken < length || length == 0) {
            // The longest valid start of a sequence becomes one replacement character;
            // decoding resumes at the first byte that did not fit.
            out.push_back(replacementCharacter);
            i += taken;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

bool fitsInOneByte(std::u16string_view units) {
    for (char16_t unit : units) {
        if (unit > 0xFF) {
            return false;
        }
    }
    return true;
}

} // namespace corvanta::xls
