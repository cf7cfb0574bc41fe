#pragma once

#include "FakeIndexService.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvanta::fake {

// 64-bit FNV-1a over the bytes of text, continuing from seed.
std::uint64_t fnv1a(std::string_view text, std::uint64_t seed = 14695981039346656037ull);

// Quotes and escapes text as a JSON string; bytes of 0x80 and above pass through.
std::string jsonString(std::string_view text);

// The service's status 0 answer, without the series named by missing.
std::string indexAnswerJson(std::string_view keyword, int days,
                            std::optional<Series> missing = std::nullopt);

// The service's error answers: 10000 not login, 10001 request block, 10002 bad request.
std::string errorAnswerJson(int status);

// An HTML page declaring charset in a meta tag, with text (UTF-8) encoded into it.
std::string metaCharsetPage(const std::string& charset, const std::string& text);

// Percent-encodes every byte as %XX with upper-case hex digits.
std::string percentEncodeAll(std::string_view bytes);

} // namespace corvanta::fake
