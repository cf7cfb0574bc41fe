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
    // Long runs.
    std::string retries = "0";           // further tries of a failed row
    std::string retryWait = "1000";      // ms before the first retry
    std::string rate = "0";              // requests per second per cookie; 0: no limit
    std::string rateJitter = "0";        // 0 to 1
    std::optional<std::string> cooldown; // seconds a blocked cookie rests; absent: for good
    bool resume = false;                 // continue from OUT's journal
    bool requery = false;     // KEYWORDS is an exported list whose failed rows are asked again
    bool periodGiven = false; // --period was typed (it excludes --days and the dates)

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
    std::string output;               // "-": JSON Lines on standard output
    std::string cookie;               // the first (or only) cookie
    std::vector<std::string> cookies; // every cookie, in the order given
    std::vector<int> cookieLines;     // each cookie's line in the cookie file (1 for --cookie)
    int retries = 0;
    int retryWaitMs = 1000;
    double rate = 0;
    double rateJitter = 0;
    int cooldownSeconds = -1;
    bool resume = false;
    bool requery = false; // `keywords` is an exported list (see QueryArguments::requery)
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

// The cookies given: --cookie is one cookie (line breaks joined); a --cookie-file holds one
// cookie per line, blank lines and lines starting with # left out. Each cookie's line number
// goes into `lines`. Nothing, with the reason, when there is none.
std::optional<std::vector<std::string>> readCookies(const CookieArguments& arguments,
                                                    std::vector<int>& lines, std::string& error);

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
