#include "query/DailySeries.h"

#include "web/WebFetch.h"

#include <map>
#include <nlohmann/json.hpp>

namespace corvanta {

namespace {

// The UTF-8 characters of a text; nothing when it is not valid UTF-8.
std::optional<std::vector<std::string_view>> characters(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80             ? 1
                                   : (lead & 0xE0) == 0xC0 ? 2
                                   : (lead & 0xF0) == 0xE0 ? 3
                                   : (lead & 0xF8) == 0xF0 ? 4
                                                           : 0;
        if (length == 0 || i + length > text.size())
            return std::nullopt;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return std::nullopt;
        result.push_back(text.substr(i, length));
        i += length;
    }
    return result;
}

std::string stringField(const nlohmann::json& object, const char* name) {
    if (!object.is_object())
        return {};
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string entryName(const nlohmann::json& entry) {
    if (!entry.is_object())
        return {};
    const auto word = entry.find("word");
    if (word == entry.end() || !word->is_array() || word->empty())
        return {};
    return stringField(word->front(), "name");
}

SeriesOutcome failure(QueryStatus status, std::string reason) {
    SeriesOutcome outcome;
    outcome.status = status;
    outcome.reason = std::move(reason);
    return outcome;
}

std::string percentEncodeUniqid(std::string_view uniqid) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : uniqid) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= 'a' && byte <= 'z') || byte == '-' || byte == '_' || byte == '.') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

// The key of an answer's uniqid from one key address; the failure text otherwise.
std::optional<std::string> fetchKey(const QueryRequest& request, const std::string& path,
                                    const std::string& uniqid, std::string& why) {
    WebExchange exchange;
    const std::string answer = fetchFromService(
        request, request.base + path + "?uniqid=" + percentEncodeUniqid(uniqid), exchange, false);
    const QueryOutcome read = readIndexAnswer(exchange, answer);
    if (!read.ok()) {
        why = read.reason;
        return std::nullopt;
    }
    const nlohmann::json json = nlohmann::json::parse(answer, nullptr, false);
    const auto data = json.find("data");
    if (data == json.end() || !data->is_string()) {
        why = "解码密钥的回答没有 data";
        return std::nullopt;
    }
    return data->get<std::string>();
}

} // namespace

std::optional<std::string> decodeSeriesData(std::string_view key, std::string_view data) {
    const auto keyCharacters = characters(key);
    const auto dataCharacters = characters(data);
    if (!keyCharacters || !dataCharacters || keyCharacters->empty() ||
        keyCharacters->size() % 2 != 0)
        return std::nullopt;
    const std::size_t n = keyCharacters->size() / 2;
    std::map<std::string_view, std::string_view> image;
    for (std::size_t i = 0; i < n; ++i)
        image.emplace((*keyCharacters)[i], (*keyCharacters)[n + i]);
    std::string decoded;
    for (const std::string_view c : *dataCharacters) {
        const auto found = image.find(c);
        if (found == image.end())
            return std::nullopt;
        decoded += found->second;
    }
    return decoded;
}

std::optional<std::vector<std::optional<long long>>> splitFigures(std::string_view text) {
    std::vector<std::optional<long long>> figures;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view piece =
            text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
        if (piece.empty()) {
            figures.push_back(std::nullopt);
        } else {
            if (piece.size() > 15)
                return std::nullopt;
            long long value = 0;
            for (const char c : piece) {
                if (c < '0' || c > '9')
                    return std::nullopt;
                value = value * 10 + (c - '0');
            }
            figures.push_back(value);
        }
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return figures;
}

std::vector<std::pair<std::chrono::sys_days, std::chrono::sys_days>>
seriesWindows(std::chrono::sys_days from, std::chrono::sys_days to) {
    std::vector<std::pair<std::chrono::sys_days, std::chrono::sys_days>> windows;
    for (auto start = from; start <= to;) {
        auto end = start + std::chrono::days{kMaxSeriesWindowDays - 1};
        if (end > to)
            end = to;
        windows.emplace_back(start, end);
        start = end + std::chrono::days{1};
    }
    return windows;
}

SeriesOutcome fetchSeriesWindow(const QueryRequest& request, std::chrono::sys_days from,
                                std::chrono::sys_days to) {
    QueryRequest windowRequest = request;
    windowRequest.form.wordForm = WordForm::List;
    windowRequest.form.startDate = dateText(from);
    windowRequest.form.endDate = dateText(to);
    WebExchange exchange;
    const std::string answer = fetchFromService(
        windowRequest,
        indexRequestUrl(request.base, {request.keyword}, request.period, windowRequest.form),
        exchange);
    const QueryOutcome read = readIndexAnswer(exchange, answer);
    if (!read.ok())
        return failure(read.status, read.reason);

    const nlohmann::json json = nlohmann::json::parse(answer, nullptr, false);
    static const nlohmann::json kNone;
    const auto dataField = json.find("data");
    const nlohmann::json& data = dataField != json.end() ? *dataField : kNone;
    const std::string uniqid = stringField(data, "uniqid");
    const nlohmann::json* entry = nullptr;
    if (data.is_object())
        if (const auto indexes = data.find("userIndexes");
            indexes != data.end() && indexes->is_array()) {
            for (const nlohmann::json& candidate : *indexes)
                if (entryName(candidate) == request.keyword) {
                    entry = &candidate;
                    break;
                }
            if (!entry && indexes->size() == 1)
                entry = &indexes->front();
        }
    if (!entry || !entry->is_object())
        return failure(QueryStatus::Failed, "服务的回答里没有这个关键词的每日数据");
    if (uniqid.empty())
        return failure(QueryStatus::Failed, "服务的回答没有 uniqid，无法解码每日数据");

    std::string why;
    auto key = fetchKey(request, "/Interface/api/ptbk", uniqid, why);
    if (!key || key->empty()) {
        std::string older;
        if (auto old = fetchKey(request, "/Interface/ptbk", uniqid, older); old && !old->empty())
            key = old;
        else if (!key)
            why += "；" + older;
    }
    if (!key)
        return failure(QueryStatus::Failed, "取不到解码密钥：" + why);
    if (key->empty())
        return failure(QueryStatus::Failed, "解码密钥为空，每日数据无法解码");

    const int days = static_cast<int>((to - from).count()) + 1;
    std::vector<std::optional<long long>> figures[3];
    const char* const names[3] = {"all", "pc", "wise"};
    for (int s = 0; s < 3; ++s) {
        const auto part = entry->find(names[s]);
        if (part == entry->end() || !part->is_object()) {
            figures[s].assign(static_cast<std::size_t>(days), std::nullopt); // series missing
            continue;
        }
        const std::string encoded = stringField(*part, "data");
        const auto decoded = decodeSeriesData(*key, encoded);
        if (!decoded)
            return failure(QueryStatus::Failed,
                           std::string("解码密钥不能解码 ") + names[s] + " 的每日数据");
        auto split = splitFigures(*decoded);
        if (!split)
            return failure(QueryStatus::Failed,
                           std::string(names[s]) + " 的每日数据解码后不是逗号分隔的数字");
        if (static_cast<int>(split->size()) != days)
            return failure(QueryStatus::Failed, std::string(names[s]) + " 的每日数据有 " +
                                                    std::to_string(split->size()) +
                                                    " 天，请求的是 " + std::to_string(days) +
                                                    " 天");
        figures[s] = std::move(*split);
    }

    SeriesOutcome outcome;
    outcome.status = QueryStatus::Ok;
    for (int d = 0; d < days; ++d) {
        const auto i = static_cast<std::size_t>(d);
        outcome.days.push_back(
            SeriesDay{from + std::chrono::days{d}, figures[0][i], figures[1][i], figures[2][i]});
    }
    return outcome;
}

} // namespace corvanta
