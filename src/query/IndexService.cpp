#include "query/IndexService.h"

#include "query/QueryText.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace corvanta {

int periodDays(Period period) {
    switch (period) {
    case Period::Days7:
        return 7;
    case Period::Days30:
        return 30;
    case Period::Days365:
        return 365;
    }
    return 7;
}

bool periodFromIndex(int index, Period& period) {
    if (index < 0 || index > 2)
        return false;
    period = static_cast<Period>(index);
    return true;
}

std::string normalizedServiceBase(std::string_view text) {
    std::string base(text);
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    std::string_view rest;
    if (base.starts_with("http://"))
        rest = std::string_view(base).substr(7);
    else if (base.starts_with("https://"))
        rest = std::string_view(base).substr(8);
    else
        return {};
    if (rest.empty() || rest.front() == '/' || rest.find_first_of("?#/ \t\r\n") != rest.npos)
        return {};
    return base;
}

std::string indexRequestUrl(std::string_view base, std::string_view keyword, Period period) {
    return std::string(base) +
           "/api/SearchApi/index?word=" + percentEncodeUtf8(keyword, false, true) +
           "&area=0&days=" + std::to_string(periodDays(period));
}

int RequestForm::daysAsked(Period period) const {
    if (hasDates()) {
        const auto from = parseDate(startDate);
        const auto to = parseDate(endDate);
        if (from && to && *from <= *to)
            return static_cast<int>((*to - *from).count()) + 1;
    }
    return days > 0 ? days : periodDays(period);
}

std::string keywordListJson(const std::vector<std::string>& keywords) {
    nlohmann::json list = nlohmann::json::array();
    for (const std::string& keyword : keywords)
        list.push_back(nlohmann::json::array({{{"name", keyword}, {"wordType", 1}}}));
    return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string indexRequestUrl(std::string_view base, const std::vector<std::string>& keywords,
                            Period period, const RequestForm& form) {
    // The plain form encodes every byte, as it always has; the list form keeps letters,
    // digits, "-" and "." as they are, as a browser does.
    std::string word;
    if (form.wordForm == WordForm::List)
        word = percentEncodeUtf8(keywordListJson(keywords), true, true);
    else if (!keywords.empty())
        word = percentEncodeUtf8(keywords.front(), false, true);
    std::string url = std::string(base) + "/api/SearchApi/index?word=" + word +
                      "&area=" + std::to_string(form.area);
    if (form.hasDates())
        url += "&startDate=" + form.startDate + "&endDate=" + form.endDate;
    else
        url += "&days=" + std::to_string(form.days > 0 ? form.days : periodDays(period));
    return url;
}

std::string headerLineProblem(std::string_view line) {
    if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return "holds a line break or a NUL";
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return "is not \"Name: value\"";
    if (colon == 0)
        return "has no name before the colon";
    static constexpr std::string_view kTokenMarks = "!#$%&'*+-.^_`|~";
    for (const char c : line.substr(0, colon)) {
        const auto byte = static_cast<unsigned char>(c);
        const bool token = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= 'a' && byte <= 'z') ||
                           kTokenMarks.find(c) != std::string_view::npos;
        if (!token)
            return "has a name that is not a header name";
    }
    return {};
}

std::string headerBlock(const std::vector<std::string>& headers) {
    std::string block;
    for (const std::string& line : headers) {
        if (!block.empty())
            block += "\r\n";
        block += line;
    }
    return block;
}

std::optional<std::chrono::sys_days> parseDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    int parts[3] = {0, 0, 0};
    const std::size_t starts[3] = {0, 5, 8};
    const std::size_t lengths[3] = {4, 2, 2};
    for (int i = 0; i < 3; ++i) {
        for (std::size_t k = 0; k < lengths[i]; ++k) {
            const char c = text[starts[i] + k];
            if (c < '0' || c > '9')
                return std::nullopt;
            parts[i] = parts[i] * 10 + (c - '0');
        }
    }
    const std::chrono::year_month_day day{std::chrono::year{parts[0]},
                                          std::chrono::month{static_cast<unsigned>(parts[1])},
                                          std::chrono::day{static_cast<unsigned>(parts[2])}};
    if (!day.ok())
        return std::nullopt;
    return std::chrono::sys_days{day};
}

std::string dateText(std::chrono::sys_days day) {
    const std::chrono::year_month_day ymd{day};
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return buffer;
}

} // namespace corvanta
