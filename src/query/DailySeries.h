#pragma once

// A keyword's daily figures: the index answer's encoded userIndexes and the key that
// decodes them (/Interface/api/ptbk, or the older /Interface/ptbk).

#include "query/QueryTask.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

// Longest range one request asks for; longer ranges are fetched in windows and joined.
inline constexpr int kMaxSeriesWindowDays = 300;

// The key's decoding of `data`: a key of 2n characters (UTF-8 characters, not bytes) maps
// its first n onto its last n, and every character of data is replaced by its image.
// Nothing when the key is empty, of odd length, or does not map a character of data.
std::optional<std::string> decodeSeriesData(std::string_view key, std::string_view data);

// Comma-separated figures; an empty piece is a day without data. Nothing when a piece is
// not a whole number.
std::optional<std::vector<std::optional<long long>>> splitFigures(std::string_view text);

struct SeriesDay {
    std::chrono::sys_days date;
    std::optional<long long> overall, pc, mobile; // nothing: no data for that day
};

struct SeriesOutcome {
    QueryStatus status = QueryStatus::Failed;
    std::string reason;          // why it failed
    std::vector<SeriesDay> days; // every day of the range, in order, when it succeeded

    bool ok() const { return status == QueryStatus::Ok; }
};

// The windows of at most kMaxSeriesWindowDays that cover [from, to], in order.
std::vector<std::pair<std::chrono::sys_days, std::chrono::sys_days>>
seriesWindows(std::chrono::sys_days from, std::chrono::sys_days to);

// Fetches one window (at most kMaxSeriesWindowDays days) of the request's keyword, with
// the request's base, cookie, headers, area, cancel flag and time-out (the list form is
// always used). A failed request, an empty key or a series shorter or longer than the
// window is a failure, never wrong numbers.
SeriesOutcome fetchSeriesWindow(const QueryRequest& request, std::chrono::sys_days from,
                                std::chrono::sys_days to);

} // namespace corvanta
