#include "query/IndexService.h"

#include "query/QueryText.h"

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

} // namespace corvanta
