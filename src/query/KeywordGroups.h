#pragma once

// Several keywords per request (the list form) and the service's list of the keywords it
// does not index. Safe on any number of threads at once.

#include "query/QueryTask.h"

#include <set>
#include <string>
#include <vector>

namespace corvanta {

// Queries `keywords` (1 to kMaxKeywordsPerRequest) with `request` (its keyword is not used):
// one keyword is queryKeyword's request; several go into one list-form request, and each
// keyword's averages are read from the generalRatio entry whose word names it. When the
// service answers such a request with 10002 (one of them is not indexed, or the request is
// bad) each keyword is asked again on its own, so that every keyword gets its own outcome.
// One outcome per keyword, in order.
std::vector<QueryOutcome> queryKeywords(const QueryRequest& request,
                                        const std::vector<std::string>& keywords);

// What a list-form answer holds for each keyword: as readIndexAnswer for a failed request
// (every keyword gets that outcome), otherwise each keyword's generalRatio entry, or a
// failure for a keyword the answer does not name.
std::vector<QueryOutcome> readKeywordListAnswer(const WebExchange& exchange,
                                                const std::string& answer,
                                                const std::vector<std::string>& keywords);

// Most words one checkWordsExists request carries.
inline constexpr int kCheckWordsPerRequest = 15;

struct WordCheck {
    bool ok = false;
    QueryStatus status = QueryStatus::Failed; // why it failed, when !ok
    std::string reason;
    std::set<std::string> notIndexed; // the words the service says it does not index
};

// The checkWordsExists request for the words (UTF-8, none holding a comma): base +
// "/api/AddWordApi/checkWordsExists?word=" + the words joined by "," and percent-encoded.
std::string checkWordsUrl(std::string_view base, const std::vector<std::string>& words);

// Asks the service which of `words` (at most kCheckWordsPerRequest) it does not index,
// with the request's cookie, headers, cancel flag and time-out.
WordCheck checkWords(const QueryRequest& request, const std::vector<std::string>& words);

} // namespace corvanta
