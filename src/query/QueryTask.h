#pragma once

// One keyword's query: the request to the index service and what its answer means for the
// keyword's row. Safe on any number of threads at once.

#include "query/IndexService.h"

#include <array>
#include <atomic>
#include <string>
#include <vector>

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
    NotIndexed,     // status 10002 for a single keyword, or listed by checkWordsExists:
                    // the service does not index the keyword (asking again does not help)
};
inline constexpr int kQueryStatusCount = 6;

// The mark a failed query leaves in the value cells: "cookie无效", "请求受限", "失败",
// "未查询", "未收录"; empty for Ok.
const char* statusMark(QueryStatus status);

struct QueryOutcome {
    QueryStatus status = QueryStatus::Failed;
    // The averages cut from the answer as the service wrote them; "0" for a series the
    // answer does not hold. The status's mark when the query failed.
    std::string pc, mobile, overall;
    // The answer's year-on-year and period-on-period changes (yoy, qoq) in the order
    // overall yoy, overall qoq, PC yoy, PC qoq, mobile yoy, mobile qoq, as the service wrote
    // them; empty for a figure the answer does not hold; the mark when the query failed.
    std::array<std::string, 6> trends;
    // Why the query failed, for the user (the failure text or the service's message).
    std::string reason;

    bool ok() const { return status == QueryStatus::Ok; }
};

struct QueryRequest {
    std::string base; // the service's base address
    std::string keyword;
    Period period = Period::Days7;
    std::string cookie; // as typed; line breaks are joined into one Cookie line
    RequestForm form;   // the defaults send today's request
    const std::atomic<bool>* cancel = nullptr;
    int timeoutSeconds = 0; // per phase; below 1: the exchange's default (30 s)
};

// Sends the keyword's index request (a POST with an empty body) and reads its answer.
QueryOutcome queryKeyword(const QueryRequest& request);

// What a finished exchange means: the outcome of its body text `answer`.
QueryOutcome readIndexAnswer(const WebExchange& exchange, const std::string& answer);

// Sends a request of the index service (a POST with an empty body when `post`, else a GET)
// with the request's cookie, extra headers, cancel flag and time-out, and returns the body.
// A header line that cannot be sent fails the exchange before anything is sent.
std::string fetchFromService(const QueryRequest& request, const std::string& url,
                             WebExchange& exchange, bool post = true);

// An outcome of a failure: the status's mark in every value cell, with the reason.
QueryOutcome failedOutcome(QueryStatus status, std::string reason);

} // namespace corvanta
