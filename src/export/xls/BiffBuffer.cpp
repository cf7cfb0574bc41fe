#include "export/xls/BiffBuffer.h"

#include <cassert>

namespace corvanta::xls {

void BiffBuffer::utf16(std::u16string_view units, bool compressed) {
    const std::size_t start = bytes_.size();
    if (compressed) {
        bytes_.resize(start + units.size());
        for (std::size_t i = 0; i < units.size(); ++i) {
            bytes_[start + i] = static_cast<char>(units[i] & 0xFF);
        }
        return;
    }
    bytes_.resize(start + 2 * units.size());
    char* out = bytes_.data() + start;
    for (char16_t unit : units) {
        *out++ = static_cast<char>(unit & 0xFF);
        *out++ = static_cast<char>(unit >> 8);
    }
}

void BiffBuffer::endRecord(std::size_t dataStart) {
    const std::size_t length = bytes_.size() - dataStart;
    assert(length <= maxRecordData);
    bytes_[dataStart - 2] = static_cast<char>(length & 0xFF);
    bytes_[dataStart - 1] = static_cast<char>(length >> 8);
}

void BiffBuffer::patch32(std::size_t position, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes_[position + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

} // namespace corvanta::xls
