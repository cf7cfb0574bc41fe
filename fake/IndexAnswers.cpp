#include "IndexAnswers.h"

#include <chrono>
#include <cstdio>
#include <iconv.h>

namespace corvanta::fake {

std::uint64_t fnv1a(std::string_view text, std::uint64_t seed) {
    std::uint64_t h = seed;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

namespace {

std::uint64_t keywordHash(std::string_view keyword, int days, int area = 0) {
    const std::uint64_t h = fnv1a("|" + std::to_string(days), fnv1a(keyword));
    return area == 0 ? h : fnv1a("|area" + std::to_string(area), h);
}

int signedPercent(std::uint64_t h, int shift) {
    return static_cast<int>((h >> shift) % 201) - 100;
}

} // namespace

std::string dateText(std::chrono::sys_days day) {
    std::chrono::year_month_day ymd{day};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return buf;
}

namespace {

std::string hex(std::uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

} // namespace

Averages FakeIndexService::expectedAverages(std::string_view keyword, int days, int area) {
    std::uint64_t h = keywordHash(keyword, days, area);
    Averages a;
    a.pc = static_cast<long long>(h % 20000);
    a.wise = static_cast<long long>((h / 20000) % 30000);
    a.all = a.pc + a.wise;
    a.allYoy = signedPercent(h, 8);
    a.allQoq = signedPercent(h, 16);
    a.pcYoy = signedPercent(h, 24);
    a.pcQoq = signedPercent(h, 32);
    a.wiseYoy = signedPercent(h, 40);
    a.wiseQoq = signedPercent(h, 48);
    return a;
}

std::optional<long long> FakeIndexService::dailyFigure(std::string_view keyword,
                                                       std::string_view date, Series series,
                                                       int area) {
    const char* name = series == Series::All ? "all" : series == Series::Pc ? "pc" : "wise";
    const std::uint64_t h =
        fnv1a("|" + std::string(date) + "|" + name + "|" + std::to_string(area), fnv1a(keyword));
    if (h % 9 == 0)
        return std::nullopt;
    return static_cast<long long>((h >> 8) % 50000);
}

std::string FakeIndexService::successBody(std::string_view keyword, int days) {
    return indexAnswerJson(keyword, days);
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

std::string indexAnswerJson(std::string_view keyword, int days, std::optional<Series> missing,
                            int area) {
    const Averages a = FakeIndexService::expectedAverages(keyword, days, area);
    const std::uint64_t h = keywordHash(keyword, days, area);
    const std::string word = "[{\"name\":" + jsonString(keyword) + ",\"wordType\":1}]";

    const auto end = std::chrono::sys_days{std::chrono::year{2024} / 6 / 30};
    const auto start = end - std::chrono::days{days > 0 ? days - 1 : 0};
    const std::string span =
        "\"startDate\":\"" + dateText(start) + "\",\"endDate\":\"" + dateText(end) + "\"";

    struct Part {
        Series series;
        const char* name;
        long long avg;
        int shift;
    };
    const Part parts[] = {{Series::All, "all", a.all, 8},
                          {Series::Pc, "pc", a.pc, 24},
                          {Series::Wise, "wise", a.wise, 40}};

    // The per-day series also carry "all"/"pc"/"wise" objects, but without an avg.
    std::string user = "{\"word\":" + word;
    std::string ratio = "{\"word\":" + word;
    for (const Part& p : parts) {
        if (missing && *missing == p.series)
            continue;
        user += ",\"" + std::string(p.name) + "\":{" + span + ",\"data\":\"" +
                hex(h ^ static_cast<std::uint64_t>(p.shift)) + "\"}";
        ratio += ",\"" + std::string(p.name) + "\":{\"avg\":" + std::to_string(p.avg) +
                 ",\"yoy\":" + std::to_string(signedPercent(h, p.shift)) +
                 ",\"qoq\":" + std::to_string(signedPercent(h, p.shift + 8)) + "}";
    }
    user += ",\"type\":\"day\"}";
    ratio += "}";

    return "{\"status\":0,\"data\":{\"userIndexes\":[" + user + "],\"generalRatio\":[" + ratio +
           "],\"uniqid\":\"" + hex(h) + hex(~h) + "\"},\"logid\":" + std::to_string(h % 100000000) +
           ",\"message\":0}";
}

std::string errorAnswerJson(int status) {
    const char* message = status == 10000   ? "not login"
                          : status == 10001 ? "request block"
                          : status == 10018 ? "abnormal access"
                                            : "bad request";
    return "{\"status\":" + std::to_string(status) + ",\"data\":\"\",\"message\":\"" + message +
           "\"}";
}

std::string seriesKey(std::uint64_t serial) {
    // Images: the ten digits and the comma, in an order of this key's own.
    std::string plain = "0123456789,";
    std::string pool = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.+-%";
    std::uint64_t h = fnv1a("key" + std::to_string(serial));
    const auto next = [&h](std::size_t bound) {
        h = h * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::size_t>((h >> 33) % bound);
    };
    for (std::size_t i = plain.size(); i > 1; --i)
        std::swap(plain[i - 1], plain[next(i)]);
    for (std::size_t i = pool.size(); i > 1; --i)
        std::swap(pool[i - 1], pool[next(i)]);
    return pool.substr(0, plain.size()) + plain;
}

namespace {

std::string encoded(const std::string& text, const std::string& key) {
    const std::size_t n = key.size() / 2;
    std::string out;
    for (const char c : text) {
        const std::size_t at = key.find(c, n);
        out += at == std::string::npos ? c : key[at - n];
    }
    return out;
}

std::optional<std::chrono::sys_days> dayOf(const std::string& text) {
    int y = 0;
    unsigned m = 0, d = 0;
    if (std::sscanf(text.c_str(), "%4d-%2u-%2u", &y, &m, &d) != 3)
        return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{m},
                                          std::chrono::day{d}};
    if (!ymd.ok())
        return std::nullopt;
    return std::chrono::sys_days{ymd};
}

} // namespace

std::string listAnswerJson(const std::vector<std::string>& keywords, int days, int area,
                           const std::string& from, const std::string& to,
                           const std::string& uniqid, const std::string& key, int droppedDays) {
    const auto start = dayOf(from);
    const auto end = dayOf(to);
    std::string users, ratios;
    for (const std::string& keyword : keywords) {
        const Averages a = FakeIndexService::expectedAverages(keyword, days, area);
        const std::string word = "[{\"name\":" + jsonString(keyword) + ",\"wordType\":1}]";
        const std::string span = "\"startDate\":\"" + from + "\",\"endDate\":\"" + to + "\"";
        struct Part {
            Series series;
            const char* name;
            long long avg;
            int yoy, qoq;
        };
        const Part parts[] = {{Series::All, "all", a.all, a.allYoy, a.allQoq},
                              {Series::Pc, "pc", a.pc, a.pcYoy, a.pcQoq},
                              {Series::Wise, "wise", a.wise, a.wiseYoy, a.wiseQoq}};
        std::string user = "{\"word\":" + word;
        std::string ratio = "{\"word\":" + word;
        for (const Part& p : parts) {
            std::string figures;
            if (start && end) {
                int index = 0;
                const int kept = static_cast<int>((*end - *start).count()) + 1 - droppedDays;
                for (auto day = *start; day <= *end && index < kept;
                     day += std::chrono::days{1}, ++index) {
                    if (index > 0)
                        figures += ',';
                    if (const auto v =
                            FakeIndexService::dailyFigure(keyword, dateText(day), p.series, area))
                        figures += std::to_string(*v);
                }
            }
            user += ",\"" + std::string(p.name) + "\":{" + span + ",\"data\":\"" +
                    encoded(figures, key) + "\"}";
            ratio += ",\"" + std::string(p.name) + "\":{\"avg\":" + std::to_string(p.avg) +
                     ",\"yoy\":" + std::to_string(p.yoy) + ",\"qoq\":" + std::to_string(p.qoq) +
                     "}";
        }
        users += (users.empty() ? "" : ",") + user + ",\"type\":\"day\"}";
        ratios += (ratios.empty() ? "" : ",") + ratio + "}";
    }
    return "{\"status\":0,\"data\":{\"userIndexes\":[" + users + "],\"generalRatio\":[" + ratios +
           "],\"uniqid\":\"" + uniqid + "\"},\"logid\":1,\"message\":0}";
}

namespace {

// Converts UTF-8 text into charset with iconv; nullopt when the charset is unknown or
// the text cannot be represented.
std::optional<std::string> encodeTo(const std::string& charset, const std::string& text) {
    iconv_t cd = iconv_open(charset.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in = text;
    std::string out(text.size() * 4 + 16, '\0');
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0)
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

std::string metaCharsetPage(const std::string& charset, const std::string& text) {
    const std::string encoded = encodeTo(charset, text).value_or(text);
    return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + charset +
           "\"><title>index</title></head><body>" + encoded + "</body></html>";
}

std::string percentEncodeAll(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        out += '%';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

} // namespace corvanta::fake
