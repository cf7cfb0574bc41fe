#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvanta::xls {

// Writes a compound file (version 3, 512-byte sectors) holding one stream named
// `streamName`, whose content is the concatenation of `parts`. A stream shorter than
// 4096 bytes is padded with zeros to that size so that it lives in regular sectors.
// Returns false with a readable reason when the file cannot be created or written.
bool writeCompoundFile(const std::string& path, const std::u16string& streamName,
                       const std::vector<std::string_view>& parts, std::string& error);

} // namespace corvanta::xls
