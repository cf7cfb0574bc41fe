#include "query/QueryTask.h"

#include "query/AnswerFigures.h"
#include "query/QueryText.h"
#include "web/WebFetch.h"

#include <nlohmann/json.hpp>

namespace corvanta {

namespace {

constexpr std::string_view kCancelledText = "714 ";

// The HTTP status code at the start of "200 OK"; 0 when there is none.
int statusCodeOf(const std::string& statusText) {
    int code = 0;
    std::size_t i = 0;
    for (; i < statusText.size() && i < 3 && statusText[i] >= '0' && statusText[i] <= '9'; ++i)
        code = code * 10 + (statusText[i] - '0');
    return i == 3 ? code : 0;
}

// The service's message of an answer: "message" or "msg", as text.
std::string serviceMessage(const nlohmann::json& answer) {
    for (const char* key : {"message", "msg"}) {
        auto it = answer.find(key);
        if (it == answer.end())
            continue;
        if (it->is_string())
            return it->get<std::string>();
        if (!it->is_number_integer() || it->get<long long>() != 0)
            return it->dump();
    }
    return {};
}

std::string statusReason(long long status, const nlohmann::json& answer) {
    std::string reason = "服务返回 status " + std::to_string(status);
    if (const std::string message = serviceMessage(answer); !message.empty())
        reason += "（" + message + "）";
    if (status == 10002)
        reason += "：服务不收录这个关键词";
    if (status == 10018)
        reason += "：服务要求浏览器会话里的请求头（如 Cipher-Text、Referer），"
                  "请从浏览器的请求里复制，用 --header \"名称: 值\" 加上";
    return reason;
}

const nlohmann::json* firstRatioEntry(const nlohmann::json& answer) {
    const auto data = answer.find("data");
    if (data == answer.end() || !data->is_object())
        return nullptr;
    const auto ratios = data->find("generalRatio");
    if (ratios == data->end() || !ratios->is_array() || ratios->empty())
        return nullptr;
    return &ratios->front();
}

// The series' average in the answer's first generalRatio entry, as the JSON wrote it;
// empty when the series is missing.
std::string averageInJson(const nlohmann::json& answer, const char* series) {
    const auto data = answer.find("data");
    if (data == answer.end() || !data->is_object())
        return {};
    const auto ratios = data->find("generalRatio");
    if (ratios == data->end() || !ratios->is_array() || ratios->empty() ||
        !ratios->front().is_object())
        return {};
    const auto entry = ratios->front().find(series);
    if (entry == ratios->front().end() || !entry->is_object())
        return {};
    const auto avg = entry->find("avg");
    if (avg == entry->end() || avg->is_null())
        return {};
    return avg->is_string() ? avg->get<std::string>() : avg->dump();
}

// A value cut from the answer text as the service wrote it; the JSON's own value when the
// text is laid out differently; "0" for a series the answer does not hold.
std::string averageOf(const std::string& answer, const nlohmann::json& json, const char* left,
                      const char* series) {
    std::string value = textBetween(answer, left, ",\"yoy\":");
    if (value.empty())
        value = averageInJson(json, series);
    return value.empty() ? "0" : value;
}

} // namespace

// A figure of a generalRatio entry's series (avg, yoy, qoq) as the JSON wrote it; empty
// when it is missing.
std::string figureInEntry(const nlohmann::json& entry, const char* series, const char* figure) {
    if (!entry.is_object())
        return {};
    const auto part = entry.find(series);
    if (part == entry.end() || !part->is_object())
        return {};
    const auto value = part->find(figure);
    if (value == part->end() || value->is_null())
        return {};
    return value->is_string() ? value->get<std::string>() : value->dump();
}

void readTrends(const nlohmann::json& entry, QueryOutcome& outcome) {
    int i = 0;
    for (const char* series : {"all", "pc", "wise"})
        for (const char* figure : {"yoy", "qoq"})
            outcome.trends[static_cast<std::size_t>(i++)] = figureInEntry(entry, series, figure);
}

const char* statusMark(QueryStatus status) {
    switch (status) {
    case QueryStatus::Ok:
        return "";
    case QueryStatus::CookieRefused:
        return "cookie无效";
    case QueryStatus::RequestBlocked:
        return "请求受限";
    case QueryStatus::Failed:
        return "失败";
    case QueryStatus::NotQueried:
        return "未查询";
    case QueryStatus::NotIndexed:
        return "未收录";
    }
    return "失败";
}

QueryOutcome failedOutcome(QueryStatus status, std::string reason) {
    QueryOutcome outcome;
    outcome.status = status;
    outcome.pc = outcome.mobile = outcome.overall = statusMark(status);
    outcome.trends.fill(statusMark(status));
    outcome.reason = std::move(reason);
    return outcome;
}

QueryOutcome readIndexAnswer(const WebExchange& exchange, const std::string& answer) {
    // A failed exchange leaves the response headers untouched (empty) and says why.
    if (exchange.responseHeaders.empty()) {
        if (exchange.statusText.starts_with(kCancelledText))
            return failedOutcome(QueryStatus::NotQueried, exchange.statusText);
        return failedOutcome(QueryStatus::Failed, exchange.statusText.empty()
                                                      ? std::string("请求失败")
                                                      : exchange.statusText);
    }
    const int code = statusCodeOf(exchange.statusText);
    if (code < 200 || code > 299)
        return failedOutcome(QueryStatus::Failed, "服务器回答 HTTP " + exchange.statusText);

    const nlohmann::json json = nlohmann::json::parse(answer, nullptr, false);
    if (json.is_discarded() || !json.is_object())
        return failedOutcome(QueryStatus::Failed, "服务器的回答不是指数接口的JSON");
    const auto statusField = json.find("status");
    if (statusField == json.end() || !statusField->is_number_integer())
        return failedOutcome(QueryStatus::Failed, "服务器的回答没有status");
    const long long status = statusField->get<long long>();
    if (status == 10000)
        return failedOutcome(QueryStatus::CookieRefused, statusReason(status, json));
    if (status == 10001)
        return failedOutcome(QueryStatus::RequestBlocked, statusReason(status, json));
    if (status == 10002)
        return failedOutcome(QueryStatus::NotIndexed, statusReason(status, json));
    if (status != 0)
        return failedOutcome(QueryStatus::Failed, statusReason(status, json));

    QueryOutcome outcome;
    outcome.status = QueryStatus::Ok;
    outcome.overall = averageOf(answer, json, "all#引号:{#引号avg#引号:", "all");
    outcome.pc = averageOf(answer, json, "pc#引号:{#引号avg#引号:", "pc");
    outcome.mobile = averageOf(answer, json, "wise#引号:{#引号avg#引号:", "wise");
    if (const nlohmann::json* entry = firstRatioEntry(json))
        readTrends(*entry, outcome);
    return outcome;
}

std::string fetchFromService(const QueryRequest& request, const std::string& url,
                             WebExchange& exchange, bool post) {
    for (const std::string& line : request.form.headers) {
        if (const std::string problem = headerLineProblem(line); !problem.empty()) {
            exchange.statusText = "请求头 \"" + line + "\" 不能发送：" + problem;
            return {};
        }
    }
    exchange.url = url;
    exchange.method = post ? 1 : 0;
    exchange.extraHeaders = headerBlock(request.form.headers);
    exchange.sendCookies = cookieLine(request.cookie);
    exchange.cancel = request.cancel;
    exchange.timeoutSeconds = request.timeoutSeconds;
    exchange.maxBodyBytes = kOwnRequestMaxBodyBytes;
    // The program's own requests keep each worker's connection to the service.
    return webFetchKeepingConnection(exchange);
}

QueryOutcome queryKeyword(const QueryRequest& request) {
    WebExchange exchange;
    const std::string answer = fetchFromService(
        request, indexRequestUrl(request.base, {request.keyword}, request.period, request.form),
        exchange);
    return readIndexAnswer(exchange, answer);
}

} // namespace corvanta
