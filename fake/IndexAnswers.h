#pragma once

#include "FakeIndexService.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvanta::fake {

// 64-bit FNV-1a over the bytes of text, continuing from seed.
std::uint64_t fnv1a(std::string_view text, std::uint64_t seed = 14695981039346656037ull);

// Quotes and escapes text as a JSON string; bytes of 0x80 and above pass through.
std::string jsonString(std::string_view text);

// The service's status 0 answer, without the series named by missing.
std::string indexAnswerJson(std::string_view keyword, int days,
                            std::optional<Series> missing = std::nullopt, int area = 0);

// A date as YYYY-MM-DD.
std::string dateText(std::chrono::sys_days day);

// The service's error answers: 10000 not login, 10001 request block, 10002 bad request,
// 10018 abnormal access.
std::string errorAnswerJson(int status);

// The list form's status 0 answer for keywords from `from` to `to` (YYYY-MM-DD) in a region:
// a generalRatio entry per keyword (averages of `days` days, as expectedAverages) and its
// daily figures encoded with `key` (2n characters, the first n mapping onto the last n),
// `droppedDays` cut from each series' end.
std::string listAnswerJson(const std::vector<std::string>& keywords, int days, int area,
                           const std::string& from, const std::string& to,
                           const std::string& uniqid, const std::string& key, int droppedDays);

// A fresh decoding key for the serial number of an answer.
std::string seriesKey(std::uint64_t serial);

// An HTML page declaring charset in a meta tag, with text (UTF-8) encoded into it.
std::string metaCharsetPage(const std::string& charset, const std::string& text);

// Percent-encodes every byte as %XX with upper-case hex digits.
std::string percentEncodeAll(std::string_view bytes);

} // namespace corvanta::fake
