#pragma once

#include "export/xls/BiffBuffer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvanta::xls {

// Longest text a cell can hold, in UTF-16 code units.
inline constexpr std::size_t maxCellCharacters = 32767;

// The workbook's shared-string table: every text cell refers to one of its strings by
// index. Equal texts share one entry.
class SharedStrings {
public:
    // Returns the index of `text` (UTF-8), adding it when it is new, and counts one
    // reference; nothing when the text is longer than a cell can hold.
    std::optional<std::uint32_t> add(std::string text);

    // Appends the SST record (with CONTINUE records where the table exceeds one record)
    // and its EXTSST index. `out` must start at the beginning of the Workbook stream,
    // since EXTSST holds stream positions.
    void write(BiffBuffer& out) const;

    std::uint32_t uniqueCount() const { return static_cast<std::uint32_t>(offsets_.size()); }
    std::uint32_t referenceCount() const { return references_; }

private:
    std::unordered_map<std::string, std::uint32_t> index_;
    std::u16string units_;             // all strings, one after the other
    std::vector<std::size_t> offsets_; // start of each string in units_
    std::uint32_t references_ = 0;
};

} // namespace corvanta::xls
