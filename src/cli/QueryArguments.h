#pragma once

// The batch mode's arguments as typed, and their check before anything is sent.

#include <optional>
#include <string>

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
};

// What a run needs, checked.
struct QuerySettings {
    std::string keywords;
    std::string output;
    std::string cookie;
    std::string base;
    int periodIndex = 0;
    int periodDays = 7;
    int threads = 15;
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

} // namespace corvanta::cli
