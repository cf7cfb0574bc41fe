#include "query/KeywordGroups.h"

#include "query/AnswerFigures.h"
#include "query/QueryText.h"
#include "web/WebFetch.h"

#include <nlohmann/json.hpp>

namespace corvanta {

namespace {

// The keyword a generalRatio entry names: its word list's first name; empty when none.
std::string entryName(const nlohmann::json& entry) {
    if (!entry.is_object())
        return {};
    const auto word = entry.find("word");
    if (word == entry.end())
        return {};
    if (word->is_string())
        return word->get<std::string>();
    if (!word->is_array() || word->empty() || !word->front().is_object())
        return {};
    const auto name = word->front().find("name");
    return name != word->front().end() && name->is_string() ? name->get<std::string>()
                                                            : std::string();
}

QueryOutcome outcomeOfEntry(const nlohmann::json& entry) {
    QueryOutcome outcome;
    outcome.status = QueryStatus::Ok;
    const auto average = [&](const char* series) {
        std::string value = figureInEntry(entry, series, "avg");
        return value.empty() ? std::string("0") : value;
    };
    outcome.overall = average("all");
    outcome.pc = average("pc");
    outcome.mobile = average("wise");
    readTrends(entry, outcome);
    return outcome;
}

} // namespace

std::vector<QueryOutcome> readKeywordListAnswer(const WebExchange& exchange,
                                                const std::string& answer,
                                                const std::vector<std::string>& keywords) {
    const QueryOutcome whole = readIndexAnswer(exchange, answer);
    if (!whole.ok())
        return std::vector<QueryOutcome>(keywords.size(), whole);

    std::vector<QueryOutcome> outcomes;
    const nlohmann::json json = nlohmann::json::parse(answer, nullptr, false);
    const nlohmann::json* ratios = nullptr;
    if (const auto data = json.find("data"); data != json.end() && data->is_object())
        if (const auto found = data->find("generalRatio");
            found != data->end() && found->is_array())
            ratios = &*found;
    for (const std::string& keyword : keywords) {
        const nlohmann::json* match = nullptr;
        if (ratios)
            for (const nlohmann::json& entry : *ratios)
                if (entryName(entry) == keyword) {
                    match = &entry;
                    break;
                }
        // A lone keyword's lone entry is its own, however the service spelled the name.
        if (!match && ratios && keywords.size() == 1 && ratios->size() == 1)
            match = &ratios->front();
        outcomes.push_back(
            match ? outcomeOfEntry(*match)
                  : failedOutcome(QueryStatus::Failed, "服务的回答里没有这个关键词的数据"));
    }
    return outcomes;
}

std::vector<QueryOutcome> queryKeywords(const QueryRequest& request,
                                        const std::vector<std::string>& keywords) {
    if (keywords.size() <= 1 || request.form.wordForm != WordForm::List) {
        std::vector<QueryOutcome> outcomes;
        for (const std::string& keyword : keywords) {
            QueryRequest single = request;
            single.keyword = keyword;
            outcomes.push_back(queryKeyword(single));
        }
        return outcomes;
    }
    WebExchange exchange;
    const std::string answer = fetchFromService(
        request, indexRequestUrl(request.base, keywords, request.period, request.form), exchange);
    std::vector<QueryOutcome> outcomes = readKeywordListAnswer(exchange, answer, keywords);
    if (outcomes.front().status != QueryStatus::NotIndexed)
        return outcomes;
    // 10002 for the group: find out which keyword it was, one request each.
    outcomes.clear();
    for (const std::string& keyword : keywords) {
        QueryRequest single = request;
        single.keyword = keyword;
        outcomes.push_back(queryKeyword(single));
    }
    return outcomes;
}

std::string checkWordsUrl(std::string_view base, const std::vector<std::string>& words) {
    std::string joined;
    for (const std::string& word : words)
        joined += (joined.empty() ? "" : ",") + word;
    return std::string(base) +
           "/api/AddWordApi/checkWordsExists?word=" + percentEncodeUtf8(joined, false, true);
}

WordCheck checkWords(const QueryRequest& request, const std::vector<std::string>& words) {
    WordCheck check;
    WebExchange exchange;
    const std::string answer =
        fetchFromService(request, checkWordsUrl(request.base, words), exchange, false);
    // The failures read as an index answer's: the same statuses, marks and reasons.
    const QueryOutcome outcome = readIndexAnswer(exchange, answer);
    if (!outcome.ok()) {
        check.status =
            outcome.status == QueryStatus::NotIndexed ? QueryStatus::Failed : outcome.status;
        check.reason = outcome.reason;
        return check;
    }
    const nlohmann::json json = nlohmann::json::parse(answer, nullptr, false);
    const auto data = json.find("data");
    const nlohmann::json* result = nullptr;
    if (data != json.end() && data->is_object())
        if (const auto found = data->find("result"); found != data->end() && found->is_array())
            result = &*found;
    if (!result) {
        check.reason = "服务的回答没有 result 列表";
        return check;
    }
    for (const nlohmann::json& entry : *result) {
        std::string name;
        if (entry.is_object())
            if (const auto found = entry.find("name"); found != entry.end() && found->is_string())
                name = found->get<std::string>();
        if (!name.empty())
            check.notIndexed.insert(name);
    }
    check.ok = true;
    check.status = QueryStatus::Ok;
    return check;
}

} // namespace corvanta
