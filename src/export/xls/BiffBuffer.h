#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvanta::xls {

// Largest data part of one BIFF8 record; longer contents continue in CONTINUE records.
inline constexpr std::size_t maxRecordData = 8224;

// A growing little-endian byte buffer that BIFF records are appended to.
class BiffBuffer {
public:
    void u8(std::uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
    void u16(std::uint16_t value) {
        const char raw[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
        bytes_.append(raw, 2);
    }
    void u32(std::uint32_t value) {
        u16(static_cast<std::uint16_t>(value & 0xFFFF));
        u16(static_cast<std::uint16_t>(value >> 16));
    }
    void zeros(std::size_t count) { bytes_.append(count, '\0'); }
    void utf16(std::u16string_view units, bool compressed);

    // Starts a record whose length is filled in by endRecord.
    std::size_t beginRecord(std::uint16_t type) {
        u16(type);
        u16(0);
        return bytes_.size();
    }
    void endRecord(std::size_t dataStart);

    void patch32(std::size_t position, std::uint32_t value);

    std::size_t size() const { return bytes_.size(); }
    std::string_view view() const { return bytes_; }
    void reserve(std::size_t capacity) { bytes_.reserve(capacity); }

private:
    std::string bytes_;
};

} // namespace corvanta::xls
