#pragma once

// Where the index service lives and how its index requests are addressed.

#include <string>
#include <string_view>

namespace corvanta {

// The index service the program talks to unless a front end is pointed elsewhere (tests,
// benchmarks and the demo use the fake service on loopback).
inline constexpr std::string_view kIndexServiceBase = "https://index.baidu.com";

// The query period chosen in the window; the value is the list's zero-based item index.
enum class Period { Days7 = 0, Days30 = 1, Days365 = 2 };

// The days a period asks the service for: 7, 30 or 365.
int periodDays(Period period);
// The period of a selected item index; false for anything but 0, 1 or 2.
bool periodFromIndex(int index, Period& period);

// A service base address as the front ends accept it: http or https, with a host, without
// a trailing "/". Empty when the text is not such an address.
std::string normalizedServiceBase(std::string_view text);

// The index request for a keyword (UTF-8): base + "/api/SearchApi/index?word=" + every byte
// of the keyword percent-encoded + "&area=0&days=N".
std::string indexRequestUrl(std::string_view base, std::string_view keyword, Period period);

} // namespace corvanta
