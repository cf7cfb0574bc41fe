#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvanta::listread {

// Reads the streams of a compound file (the container of .xls workbooks) held in memory.
// Every sector chain is checked against the file: a damaged file gives a reason, never a
// crash or an endless loop.
class CompoundFileReader {
public:
    // False with a reason sentence when `file` is not a readable compound file.
    bool open(std::string_view file, std::string& reason);

    // True when a stream of that name (any letter case) lies in the root storage.
    bool has(std::u16string_view name) const;

    // The content of the root storage's stream `name`; false with a reason when it is
    // missing or its sectors are damaged.
    bool read(std::u16string_view name, std::string& content, std::string& reason) const;

private:
    struct Entry {
        std::u16string name;
        std::uint8_t type = 0;
        std::uint32_t left = 0;
        std::uint32_t right = 0;
        std::uint32_t child = 0;
        std::uint32_t start = 0;
        std::uint64_t size = 0;
    };

    bool chain(const std::vector<std::uint32_t>& table, std::uint32_t start,
               std::vector<std::uint32_t>& sectors) const;
    bool readChain(std::uint32_t start, std::uint64_t size, std::string& content) const;
    // True when the regular sector lies wholly within the file.
    bool wholeSector(std::uint64_t sector) const;
    const Entry* find(std::u16string_view name) const;

    std::string_view file_;
    std::size_t sectorSize_ = 512;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> rootChildren_; // entry indexes of the root storage's children
    std::string miniStream_;
};

} // namespace corvanta::listread
