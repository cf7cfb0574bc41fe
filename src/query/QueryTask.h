#pragma once

// One keyword's query: the request to the index service and what its answer means for the
// keyword's row. Safe on any number of threads at once.

#include "query/IndexService.h"

#include <atomic>
#include <string>

namespace corvanta {

struct WebExchange;

// How a query ended. Every kind but Ok puts its mark into the three value cells, so a
// failure is never shown as a result.
enum class QueryStatus {
    Ok,             // the service answered with status 0
    CookieRefused,  // status 10000: the cookie is not (or no longer) logged in
    RequestBlocked, // status 10001: the account is limited for now
    Failed,         // no answer, a time-out, an HTTP error, another status, not the JSON
    NotQueried,     // the request was cancelled before it got an answer
};
inline constexpr int kQueryStatusCount = 5;

// The mark a failed query leaves in the value cells: "cookie无效", "请求受限", "失败",
// "未查询"; empty for Ok.
const char* statusMark(QueryStatus status);

struct QueryOutcome {
    QueryStatus status = QueryStatus::Failed;
    // The averages cut from the answer as the service wrote them; "0" for a series the
    // answer does not hold. The status's mark when the query failed.
    std::string pc, mobile, overall;
    // Why the query failed, for the user (the failure text or the service's message).
    std::string reason;

    bool ok() const { return status == QueryStatus::Ok; }
};

struct QueryRequest {
    std::string base; // the service's base address
    std::string keyword;
    Period period = Period::Days7;
    std::string cookie; // as typed; line breaks are joined into one Cookie line
    const std::atomic<bool>* cancel = nullptr;
    int timeoutSeconds = 0; // per phase; below 1: the exchange's default (30 s)
};

// Sends the keyword's index request (a POST with an empty body) and reads its answer.
QueryOutcome queryKeyword(const QueryRequest& request);

// What a finished exchange means: the outcome of its body text `answer`.
QueryOutcome readIndexAnswer(const WebExchange& exchange, const std::string& answer);

// An outcome of a failure: the status's mark in every value cell, with the reason.
QueryOutcome failedOutcome(QueryStatus status, std::string reason);

} // namespace corvanta
