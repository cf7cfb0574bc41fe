#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>

namespace corvanta {

// An OLE automation date: days since midnight of 30 December 1899, the fraction being the
// time of day, in local time.
using OleDate = double;

// A calendar date and time of day, to the second.
struct CivilTime {
    int year = 1899;
    int month = 12; // 1 to 12
    int day = 30;   // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Nothing for a value outside the years 100 to 9999 (or not a number); rounds to the
// nearest second.
std::optional<CivilTime> civilTimeFromOleDate(OleDate date);
OleDate oleDateFromCivilTime(const CivilTime& time);

// Where formatDateTime reads the present and the user's clock setting; tests replace them.
struct DateTimeSource {
    std::function<std::tm()> now;          // local time
    std::function<bool()> uses12HourClock; // the user's clock setting
};

// The platform's clock and locale setting.
const DateTimeSource& systemDateTimeSource();

// The date and/or time as text. dateStyle picks the separators (0 年月日/时分秒, 1 "-" and
// ":", 2 "/", 3 none; others count as 0); layout picks the parts (0 date and time, 1 date
// alone, 2 month-day, 3 time, 4 hour-minute, 5 minute-second; others count as 0). Hours
// follow the user's 12- or 24-hour clock. Absent time: now, to the second. Empty when the
// date cannot be converted.
std::string formatDateTime(std::optional<OleDate> time = std::nullopt, int dateStyle = 0,
                           int layout = 0, const DateTimeSource& source = systemDateTimeSource());

// 1 for a 24-hour clock, 0 for a 12-hour clock.
int localeUses24Hour(const DateTimeSource& source = systemDateTimeSource());

// Fills a date picture (yyyy, MM, dd) and a time picture (hh 12-hour, HH 24-hour, mm, ss;
// hh reads as HH when force24 is 1) for one date-time and joins the two results.
std::string formatWithPictures(OleDate time, const std::string& datePicture,
                               const std::string& timePicture, int force24 = 0);

} // namespace corvanta
