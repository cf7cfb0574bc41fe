#include "export/DateTimeFormat.h"

#include "util/Platform.h"

#include <chrono>
#include <cmath>
#include <string_view>

namespace corvanta {

namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

constexpr sys_days oleEpoch = sys_days(year(1899) / 12 / 30);
constexpr int secondsPerDay = 86400;

struct Pictures {
    std::string_view date;
    std::string_view time;
    std::string_view monthDay;
    std::string_view hourMinute;
    std::string_view minuteSecond;
};

constexpr Pictures pictureTable[] = {
    {"yyyy年MM月dd日 ", "hh时mm分ss秒", "MM月dd日", "hh时mm分", "mm分ss秒"},
    {"yyyy-MM-dd ", "hh:mm:ss", "MM-dd", "hh:mm", "mm:ss"},
    {"yyyy/MM/dd ", "hh/mm/ss", "MM/dd", "hh/mm", "mm/ss"},
    {"yyyyMMdd", "hhmmss", "MMdd", "hhmm", "mmss"},
};

constexpr std::string_view fullWidthSpace = "\xE3\x80\x80"; // U+3000

std::string trimBlanks(std::string_view text) {
    for (bool changed = true; changed;) {
        changed = false;
        if (text.starts_with(' ') || text.starts_with(fullWidthSpace)) {
            text.remove_prefix(text.starts_with(' ') ? 1 : fullWidthSpace.size());
            changed = true;
        }
        if (text.ends_with(' ') || text.ends_with(fullWidthSpace)) {
            text.remove_suffix(text.ends_with(' ') ? 1 : fullWidthSpace.size());
            changed = true;
        }
    }
    return std::string(text);
}

void appendNumber(std::string& out, int value, int minDigits) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < minDigits)
        out.append(static_cast<std::size_t>(minDigits) - digits.size(), '0');
    out += digits;
}

// Fills a picture: runs of the letters `fields` knows become numbers, text in single
// quotes is copied without its quotes ('' is one quote), everything else is copied.
template <typename Field>
std::string fillPicture(std::string_view picture, Field field) {
    std::string out;
    for (std::size_t i = 0; i < picture.size();) {
        const char c = picture[i];
        if (c == '\'') {
            const std::size_t close = picture.find('\'', i + 1);
            if (close == i + 1) {
                out += '\'';
                i += 2;
                continue;
            }
            const std::size_t end = close == std::string_view::npos ? picture.size() : close;
            out.append(picture.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c)
            ++run;
        if (!field(out, c, static_cast<int>(run)))
            out.append(run, c);
        i += run;
    }
    return out;
}

std::string fillDate(std::string_view picture, const CivilTime& t) {
    return fillPicture(picture, [&](std::string& out, char letter, int run) {
        switch (letter) {
        case 'y':
            if (run <= 2)
                appendNumber(out, t.year % 100, run);
            else
                appendNumber(out, t.year, 4);
            return true;
        case 'M':
            appendNumber(out, t.month, std::min(run, 2));
            return true;
        case 'd':
            appendNumber(out, t.day, std::min(run, 2));
            return true;
        default:
            return false;
        }
    });
}

std::string fillTime(std::string_view picture, const CivilTime& t, bool force24) {
    return fillPicture(picture, [&](std::string& out, char letter, int run) {
        const int digits = std::min(run, 2);
        switch (letter) {
        case 'h':
            if (force24)
                appendNumber(out, t.hour, digits);
            else
                appendNumber(out, t.hour % 12 == 0 ? 12 : t.hour % 12, digits);
            return true;
        case 'H':
            appendNumber(out, t.hour, digits);
            return true;
        case 'm':
            appendNumber(out, t.minute, digits);
            return true;
        case 's':
            appendNumber(out, t.second, digits);
            return true;
        case 't':
            out += std::string_view(t.hour < 12 ? "AM" : "PM").substr(0, run == 1 ? 1 : 2);
            return true;
        default:
            return false;
        }
    });
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

CivilTime civilFromTm(const std::tm& tm) {
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
            tm.tm_hour,        tm.tm_min,     std::min(tm.tm_sec, 59)};
}

} // namespace

std::optional<CivilTime> civilTimeFromOleDate(OleDate date) {
    if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0)
        return std::nullopt;
    const double whole = std::trunc(date);
    // Before the epoch the fraction still counts forward from that day's midnight.
    long long seconds = std::llround(std::fabs(date - whole) * secondsPerDay);
    long long days = static_cast<long long>(whole);
    if (seconds >= secondsPerDay) {
        seconds -= secondsPerDay;
        days += 1;
    }
    const year_month_day ymd(oleEpoch + std::chrono::days(days));
    const int y = static_cast<int>(ymd.year());
    if (y < 100 || y > 9999)
        return std::nullopt;
    CivilTime t;
    t.year = y;
    t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.hour = static_cast<int>(seconds / 3600);
    t.minute = static_cast<int>(seconds / 60 % 60);
    t.second = static_cast<int>(seconds % 60);
    return t;
}

OleDate oleDateFromCivilTime(const CivilTime& time) {
    const sys_days date = sys_days(year(time.year) / month(static_cast<unsigned>(time.month)) /
                                   day(static_cast<unsigned>(time.day)));
    const double days = static_cast<double>((date - oleEpoch).count());
    const double fraction =
        (time.hour * 3600 + time.minute * 60 + time.second) / static_cast<double>(secondsPerDay);
    return days < 0 ? days - fraction : days + fraction;
}

const DateTimeSource& systemDateTimeSource() {
    static const DateTimeSource source{platform::localTimeNow, platform::uses12HourClock};
    return source;
}

int localeUses24Hour(const DateTimeSource& source) {
    return source.uses12HourClock && source.uses12HourClock() ? 0 : 1;
}

std::string formatDateTime(std::optional<OleDate> time, int dateStyle, int layout,
                           const DateTimeSource& source) {
    if (!time) {
        const std::tm now = source.now ? source.now() : platform::localTimeNow();
        time = oleDateFromCivilTime(civilFromTm(now));
    }
    if (dateStyle < 0 || dateStyle > 3)
        dateStyle = 0;
    const Pictures& row = pictureTable[dateStyle];

    std::string datePart(layout >= 3 && layout <= 5 ? std::string_view() : row.date);
    std::string timePart(layout == 1 || layout == 2 ? std::string_view() : row.time);
    if (layout == 1)
        datePart = trimBlanks(datePart);
    if (layout == 2)
        datePart = row.monthDay;
    if (layout == 4)
        timePart = row.hourMinute;
    if (layout == 5)
        timePart = row.minuteSecond;
    if (localeUses24Hour(source) == 1)
        timePart = replaceAll(timePart, "hh", "HH");
    return formatWithPictures(*time, datePart, timePart);
}

std::string formatWithPictures(OleDate time, const std::string& datePicture,
                               const std::string& timePicture, int force24) {
    const std::optional<CivilTime> civil = civilTimeFromOleDate(time);
    if (!civil)
        return {};
    std::string text;
    if (datePicture.size() >= 3)
        text += fillDate(datePicture, *civil);
    if (timePicture.size() >= 3)
        text += fillTime(timePicture, *civil, force24 == 1);
    return text;
}

} // namespace corvanta
