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
        std::size_t length = 0;
        std::uint32_t code = 0;
        std::uint32_t minimum = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
            minimum = 0x10000;
        } else {
            out.push_back(replacementCharacter);
            ++i;
            continue;
        }
        std::size_t taken = 1;
        while (taken < length && i + taken < size && isContinuation(bytes[i + taken])) {
            code = (code << 6) | (bytes[i + taken] & 0x3F);
            ++taken;
        }
        // A truncated sequence, an overlong form, an encoded surrogate or a value beyond
        // U+10FFFF is replaced as a whole; decoding resumes at the first byte not consumed.
        if (taken < length || code < minimum || (code >= 0xD800 && code <= 0xDFFF) ||
            code > 0x10FFFF) {
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
