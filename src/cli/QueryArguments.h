#pragma once

// The batch mode's arguments as typed, and their check before anything is sent.

#include "core/QueryEngine.h"

#include <optional>
#include <string>
#include <vector>

namespace corvanta::cli {

// Where the cookie comes from: --cookie TEXT or --cookie-file FILE (at most one).
struct CookieArguments {
    std::optional<std::string> text;
    std::optional<std::string> file;
};

struct QueryArguments {
    std::string keywords; // the keyword file
    std::string output;   // OUT: its extension chooses the format
    CookieArguments cookie;
    std::string period = "7";
    std::string threads = "15";
    std::string endpoint;       // empty: the real index service
    double progressEvery = 5.0; // seconds between progress lines off a terminal; 0: none
    bool table = false;         // the results table on standard output even off a terminal
    bool periodGiven = false;   // --period was typed (it excludes --days and the dates)

    // How the requests look (see RequestArguments).
    std::string requestForm = "plain";
    std::vector<std::string> headers;
    std::string perRequest = "1";
    std::string days;     // empty: the period's
    std::string from, to; // empty: no date range
    std::string area = "0";
    bool checkWords = false; // ask checkWordsExists first
    bool trends = false;     // the six trend columns
};

// What a run needs, checked.
struct QuerySettings {
    std::string keywords;
    std::string output; // "-": JSON Lines on standard output
    std::string cookie;
    std::string base;
    int periodIndex = 0;
    int periodDays = 7;
    int threads = 15;
    RequestShape shape;
    bool checkWords = false;
    bool trends = false;
    bool jsonLines = false; // OUT is .jsonl or "-"
    std::string periodText; // "7 days", "90 days", "2024-01-01 to 2024-03-31"
};

// `series KEYWORDS -o OUT --from --to`, as typed.
struct SeriesArguments {
    std::string keywords;
    std::string output;
    CookieArguments cookie;
    std::string endpoint;
    std::string from, to;
    std::string area = "0";
    std::vector<std::string> headers;
};

struct SeriesSettings {
    std::string keywords;
    std::string output; // "-": JSON Lines on standard output
    std::string cookie;
    std::string base;
    RequestForm form; // region and headers
    std::string from, to;
    bool jsonLines = false;
};

// Largest --threads value accepted.
inline constexpr int kMaxThreads = 100;

// The cookie text, or why there is none (a one-line message).
std::optional<std::string> readCookie(const CookieArguments& arguments, std::string& error);

// The service's base address from --endpoint (the real service when empty), or why it is
// not usable.
std::optional<std::string> serviceBase(const std::string& endpoint, std::string& error);

// Checks every argument of `query` without sending anything: the keyword file can be read,
// there is a cookie, the period and thread count are known values, the output's extension
// names a format and its folder exists and takes new files. Empty when all is well,
// otherwise a one-line message.
std::string checkQueryArguments(const QueryArguments& arguments, QuerySettings& settings);

// Checks `series` arguments the same way: keyword file, cookie, endpoint, real dates in
// order, region, headers, and an output of .csv, .xlsx, .jsonl or "-".
std::string checkSeriesArguments(const SeriesArguments& arguments, SeriesSettings& settings);

} // namespace corvanta::cli
