#include "cli/QueryArguments.h"

#include "query/IndexService.h"
#include "query/QueryText.h"
#include "util/Platform.h"
#include "util/TextSearch.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace corvanta::cli {

namespace fs = std::filesystem;

namespace {

// Paths are UTF-8 on every platform.
fs::path pathOf(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

// Why a file cannot be read as input, or empty when it can.
std::string unreadable(const std::string& path) {
    std::error_code ec;
    const fs::path file = pathOf(path);
    const auto status = fs::status(file, ec);
    if (!fs::exists(status))
        return "does not exist";
    if (fs::is_directory(status))
        return "is a folder, not a file";
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open())
        return "cannot be opened (no permission to read it?)";
    return {};
}

bool isWholeNumber(const std::string& text) {
    return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
}

std::string lowerExtension(const std::string& path) {
    return asciiLowercase(platform::utf8FromPath(pathOf(path).extension()));
}

// Why new files cannot be made in `folder`, or empty when they can: a probe file is made
// and removed again.
std::string unwritableFolder(const fs::path& folder) {
    std::error_code ec;
    const auto status = fs::status(folder, ec);
    if (!fs::exists(status))
        return "does not exist";
    if (!fs::is_directory(status))
        return "is not a folder";
    std::random_device seed;
    const fs::path probe = folder / (".corvanta-write-check-" + std::to_string(seed()));
    {
        std::ofstream out(probe, std::ios::binary);
        if (!out.is_open())
            return "does not take new files (no permission to write there?)";
    }
    fs::remove(probe, ec);
    return {};
}

// Why OUT cannot take the results, or empty when it can; "-" is standard output.
std::string checkOutput(const std::string& outputText, const std::string& keywords,
                        const std::vector<std::string>& extensions, bool& jsonLines) {
    jsonLines = outputText == "-";
    if (jsonLines)
        return {};
    const std::string extension = lowerExtension(outputText);
    if (std::find(extensions.begin(), extensions.end(), extension) == extensions.end()) {
        std::string known;
        for (std::size_t i = 0; i < extensions.size(); ++i)
            known += (i == 0 ? "" : i + 1 == extensions.size() ? " or " : ", ") + extensions[i];
        return "output " + quoted(outputText) + " has no known extension: end it in " + known +
               " (or give - for JSON Lines on standard output)";
    }
    jsonLines = extension == ".jsonl";
    const fs::path output = pathOf(outputText);
    std::error_code ec;
    if (fs::is_directory(output, ec))
        return "output " + quoted(outputText) + " is a folder";
    if (!keywords.empty() && fs::equivalent(output, pathOf(keywords), ec))
        return "output " + quoted(outputText) + " is the keyword file itself";
    const fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    if (const std::string why = unwritableFolder(folder); !why.empty())
        return "output folder " + quoted(folder.string()) + " " + why;
    return {};
}

std::string checkHeaders(const std::vector<std::string>& headers) {
    for (const std::string& line : headers)
        if (const std::string problem = headerLineProblem(line); !problem.empty())
            return "--header " + quoted(line) + " cannot be sent: it " + problem;
    return {};
}

std::string checkArea(const std::string& text, int& area) {
    if (!isWholeNumber(text))
        return "--area " + quoted(text) +
               " is not a region code: give a whole number (0, the default, is the whole country)";
    area = std::stoi(text);
    return {};
}

// The date range of --from and --to: both real dates, from not after to.
std::string checkDates(const std::string& from, const std::string& to) {
    if (from.empty() != to.empty())
        return from.empty() ? "--to needs --from (a date range has both ends)"
                            : "--from needs --to (a date range has both ends)";
    const auto start = parseDate(from);
    if (!start)
        return "--from " + quoted(from) + " is not a real date: give YYYY-MM-DD";
    const auto end = parseDate(to);
    if (!end)
        return "--to " + quoted(to) + " is not a real date: give YYYY-MM-DD";
    if (*start > *end)
        return "--from " + from + " is after --to " + to;
    return {};
}

} // namespace

std::optional<std::string> readCookie(const CookieArguments& arguments, std::string& error) {
    std::string text;
    if (arguments.text) {
        text = *arguments.text;
    } else if (arguments.file) {
        if (const std::string why = unreadable(*arguments.file); !why.empty()) {
            error = "cookie file " + quoted(*arguments.file) + " " + why;
            return std::nullopt;
        }
        std::ifstream in(pathOf(*arguments.file), std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (text.starts_with("\xEF\xBB\xBF"))
            text.erase(0, 3);
    } else {
        error = "no cookie: give --cookie TEXT or --cookie-file FILE with the cookie of a browser "
                "logged in to the index service";
        return std::nullopt;
    }
    if (cookieLine(text).empty()) {
        error = arguments.text ? "the cookie given with --cookie is empty"
                               : "cookie file " + quoted(*arguments.file) + " holds no cookie";
        return std::nullopt;
    }
    return text;
}

std::optional<std::vector<std::string>> readCookies(const CookieArguments& arguments,
                                                    std::vector<int>& lines, std::string& error) {
    const auto text = readCookie(arguments, error);
    if (!text)
        return std::nullopt;
    std::vector<std::string> cookies;
    lines.clear();
    if (!arguments.file) {
        cookies.push_back(cookieLine(*text));
        lines.push_back(1);
        return cookies;
    }
    std::size_t start = 0;
    for (int number = 1; start <= text->size(); ++number) {
        std::size_t end = text->find('\n', start);
        if (end == std::string::npos)
            end = text->size();
        const std::string line = cookieLine(std::string_view(*text).substr(start, end - start));
        if (!line.empty() && !line.starts_with('#')) {
            cookies.push_back(line);
            lines.push_back(number);
        }
        start = end + 1;
    }
    if (cookies.empty()) {
        error = "cookie file " + quoted(*arguments.file) + " holds no cookie";
        return std::nullopt;
    }
    return cookies;
}

std::optional<std::string> serviceBase(const std::string& endpoint, std::string& error) {
    const std::string base =
        normalizedServiceBase(endpoint.empty() ? kIndexServiceBase : std::string_view(endpoint));
    if (base.empty()) {
        error = "unusable --endpoint " + quoted(endpoint) +
                ": give an http or https address such as http://127.0.0.1:8765";
        return std::nullopt;
    }
    return base;
}

std::string checkQueryArguments(const QueryArguments& arguments, QuerySettings& settings) {
    if (const std::string why = unreadable(arguments.keywords); !why.empty())
        return "keyword file " + quoted(arguments.keywords) + " " + why;
    settings.keywords = arguments.keywords;

    std::string error;
    const auto cookies = readCookies(arguments.cookie, settings.cookieLines, error);
    if (!cookies)
        return error;
    settings.cookies = *cookies;
    settings.cookie = cookies->front();

    RequestForm& form = settings.shape.form;
    if (arguments.requestForm == "list")
        form.wordForm = WordForm::List;
    else if (arguments.requestForm != "plain")
        return "unknown --request-form " + quoted(arguments.requestForm) +
               ": choose plain (the keyword itself) or list (the service's form since 2020)";
    if (const std::string why = checkHeaders(arguments.headers); !why.empty())
        return why;
    form.headers = arguments.headers;
    const int perRequest =
        isWholeNumber(arguments.perRequest) ? std::stoi(arguments.perRequest) : 0;
    if (perRequest < 1 || perRequest > kMaxKeywordsPerRequest)
        return "--per-request " + quoted(arguments.perRequest) +
               " is not a whole number from 1 to " + std::to_string(kMaxKeywordsPerRequest);
    if (perRequest > 1 && form.wordForm != WordForm::List)
        return "--per-request " + arguments.perRequest +
               " needs --request-form list (the plain form carries one keyword)";
    settings.shape.perRequest = perRequest;
    if (const std::string why = checkArea(arguments.area, form.area); !why.empty())
        return why;
    settings.checkWords = arguments.checkWords;
    settings.trends = arguments.trends;

    const bool dates = !arguments.from.empty() || !arguments.to.empty();
    if (dates || !arguments.days.empty()) {
        if (arguments.periodGiven)
            return std::string("--period cannot be given with ") +
                   (dates ? "--from and --to" : "--days") + ": give one of them";
        if (dates && !arguments.days.empty())
            return "--days cannot be given with --from and --to: give one of them";
    }
    if (dates) {
        if (const std::string why = checkDates(arguments.from, arguments.to); !why.empty())
            return why;
        form.startDate = arguments.from;
        form.endDate = arguments.to;
        settings.periodText = arguments.from + " to " + arguments.to;
    } else if (!arguments.days.empty()) {
        const int days = isWholeNumber(arguments.days) ? std::stoi(arguments.days) : 0;
        if (days < 1)
            return "--days " + quoted(arguments.days) + " is not a positive whole number";
        form.days = days;
        settings.periodText = std::to_string(days) + " days";
    }

    constexpr std::array<int, 3> kDays = {7, 30, 365};
    const auto day = std::find_if(kDays.begin(), kDays.end(), [&](int days) {
        return arguments.period == std::to_string(days);
    });
    if (day == kDays.end())
        return "unknown --period " + quoted(arguments.period) + ": choose 7, 30 or 365 (days)";
    settings.periodIndex = static_cast<int>(day - kDays.begin());
    settings.periodDays = *day;
    if (settings.periodText.empty())
        settings.periodText = std::to_string(*day) + " days";

    const int threads = isWholeNumber(arguments.threads) ? std::stoi(arguments.threads) : 0;
    if (threads < 1 || threads > kMaxThreads)
        return "--threads " + quoted(arguments.threads) + " is not a whole number from 1 to " +
               std::to_string(kMaxThreads);
    settings.threads = threads;

    const auto number = [](const std::string& text, double& value) {
        try {
            std::size_t used = 0;
            value = std::stod(text, &used);
            return used == text.size() && std::isfinite(value);
        } catch (const std::exception&) {
            return false;
        }
    };
    double value = 0;
    if (!isWholeNumber(arguments.retries) || std::stoi(arguments.retries) > 100)
        return "--retries " + quoted(arguments.retries) + " is not a whole number from 0 to 100";
    settings.retries = std::stoi(arguments.retries);
    if (!isWholeNumber(arguments.retryWait))
        return "--retry-wait " + quoted(arguments.retryWait) + " is not a number of milliseconds";
    settings.retryWaitMs = std::stoi(arguments.retryWait);
    if (!number(arguments.rate, value) || value < 0)
        return "--rate " + quoted(arguments.rate) +
               " is not a number of requests per second (such as 0.1 or 18; 0: no limit)";
    settings.rate = value;
    if (!number(arguments.rateJitter, value) || value < 0 || value > 1)
        return "--rate-jitter " + quoted(arguments.rateJitter) + " is not a share from 0 to 1";
    settings.rateJitter = value;
    settings.cooldownSeconds = -1;
    if (arguments.cooldown) {
        if (!isWholeNumber(*arguments.cooldown))
            return "--cooldown " + quoted(*arguments.cooldown) + " is not a number of seconds";
        settings.cooldownSeconds = std::stoi(*arguments.cooldown);
    }
    settings.resume = arguments.resume;
    settings.requery = arguments.requery;

    const auto base = serviceBase(arguments.endpoint, error);
    if (!base)
        return error;
    settings.base = *base;

    if (const std::string why =
            // A requery may replace the list it read: it is read whole before anything is sent.
        checkOutput(arguments.output, arguments.requery ? std::string() : arguments.keywords,
                    {".txt", ".csv", ".xls", ".xlsx", ".jsonl"}, settings.jsonLines);
        !why.empty())
        return why;
    settings.output = arguments.output;
    return {};
}

std::string checkSeriesArguments(const SeriesArguments& arguments, SeriesSettings& settings) {
    if (const std::string why = unreadable(arguments.keywords); !why.empty())
        return "keyword file " + quoted(arguments.keywords) + " " + why;
    settings.keywords = arguments.keywords;
    std::string error;
    const auto cookie = readCookie(arguments.cookie, error);
    if (!cookie)
        return error;
    settings.cookie = *cookie;
    if (arguments.from.empty() || arguments.to.empty())
        return "series needs --from and --to (YYYY-MM-DD): the days to fetch";
    if (const std::string why = checkDates(arguments.from, arguments.to); !why.empty())
        return why;
    settings.from = arguments.from;
    settings.to = arguments.to;
    if (const std::string why = checkArea(arguments.area, settings.form.area); !why.empty())
        return why;
    if (const std::string why = checkHeaders(arguments.headers); !why.empty())
        return why;
    settings.form.headers = arguments.headers;
    const auto base = serviceBase(arguments.endpoint, error);
    if (!base)
        return error;
    settings.base = *base;
    if (const std::string why = checkOutput(arguments.output, arguments.keywords,
                                            {".csv", ".xlsx", ".jsonl"}, settings.jsonLines);
        !why.empty())
        return why;
    settings.output = arguments.output;
    return {};
}

} // namespace corvanta::cli
