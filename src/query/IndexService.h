#pragma once

// Where the index service lives and how its index requests are addressed.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// How the keywords go into the request's word parameter.
enum class WordForm {
    Plain, // the keyword itself (one keyword per request)
    List,  // the JSON list [[{"name":"KEYWORD","wordType":1}],...], the service's form since 2020
};

// Most keywords one list-form request may carry.
inline constexpr int kMaxKeywordsPerRequest = 5;

// Everything of an index request beyond its keywords. The defaults give the request above.
struct RequestForm {
    WordForm wordForm = WordForm::Plain;
    int area = 0;                     // region code; 0 is the whole country
    int days = 0;                     // above 0: asked instead of the period's days
    std::string startDate, endDate;   // YYYY-MM-DD; when both are set they replace days
    std::vector<std::string> headers; // extra request header lines, "Name: value"

    bool hasDates() const { return !startDate.empty() && !endDate.empty(); }
    // The days asked for: the date range's length, `days`, or the period's days.
    int daysAsked(Period period) const;
};

// The index request for one or more keywords (UTF-8): base + "/api/SearchApi/index?word=" +
// the word parameter + "&area=A" + "&days=N" or "&startDate=...&endDate=...". The plain form
// sends the first keyword with every byte percent-encoded; the list form sends the JSON list
// percent-encoded but for the bytes - . 0-9 A-Z a-z.
std::string indexRequestUrl(std::string_view base, const std::vector<std::string>& keywords,
                            Period period, const RequestForm& form);

// The word parameter of the list form before encoding: [[{"name":"K1","wordType":1}],...].
std::string keywordListJson(const std::vector<std::string>& keywords);

// Why a header line cannot be sent, or empty when it can: it must be "Name: value" with a
// name of token characters, and hold no CR, LF or NUL.
std::string headerLineProblem(std::string_view line);

// The extra header lines as the exchange takes them (CR LF separated).
std::string headerBlock(const std::vector<std::string>& headers);

// A calendar date "YYYY-MM-DD" (exactly that layout, a real day); nothing otherwise.
std::optional<std::chrono::sys_days> parseDate(std::string_view text);
std::string dateText(std::chrono::sys_days day);

} // namespace corvanta
