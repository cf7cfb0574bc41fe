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

std::uint64_t keywordHash(std::string_view keyword, int days) {
    return fnv1a("|" + std::to_string(days), fnv1a(keyword));
}

int signedPercent(std::uint64_t h, int shift) {
    return static_cast<int>((h >> shift) % 201) - 100;
}

std::string dateText(std::chrono::sys_days day) {
    std::chrono::year_month_day ymd{day};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return buf;
}

std::string hex(std::uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

} // namespace

Averages FakeIndexService::expectedAverages(std::string_view keyword, int days) {
    std::uint64_t h = keywordHash(keyword, days);
    Averages a;
    a.pc = static_cast<long long>(h % 20000);
    a.wise = static_cast<long long>((h / 20000) % 30000);
    a.all = a.pc + a.wise;
    return a;
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

std::string indexAnswerJson(std::string_view keyword, int days, std::optional<Series> missing) {
    const Averages a = FakeIndexService::expectedAverages(keyword, days);
    const std::uint64_t h = keywordHash(keyword, days);
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
                                            : "bad request";
    return "{\"status\":" + std::to_string(status) + ",\"data\":\"\",\"message\":\"" + message +
           "\"}";
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
