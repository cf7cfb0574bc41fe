#include "core/CookieTest.h"

#include "query/IndexService.h"
#include "query/QueryTask.h"
#include "query/QueryText.h"
#include "util/TextSearch.h"
#include "web/WebFetch.h"

namespace corvanta {

CookieTestResult testCookie(const std::string& base, const std::string& cookie,
                            const std::atomic<bool>* cancel) {
    WebExchange exchange;
    exchange.url = indexRequestUrl(base, "\xE4\xB8\xAD\xE5\x9B\xBD", Period::Days7); // 中国
    exchange.method = 1;
    exchange.sendCookies = cookieLine(cookie);
    exchange.cancel = cancel;
    exchange.maxBodyBytes = kOwnRequestMaxBodyBytes;
    const std::string answer = webFetch(exchange);

    CookieTestResult result;
    result.refused = findText(answer, "{\"status\":10000") != -1;
    result.accepted = findText(answer, "{\"status\":0") != -1;
    if (!result.refused && !result.accepted) {
        // The query's own reading of the answer says best what went wrong.
        const QueryOutcome outcome = readIndexAnswer(exchange, answer);
        result.reason = outcome.ok() ? std::string("服务器的回答中没有状态") : outcome.reason;
    }
    return result;
}

std::vector<std::string> cookieTestMessages(const CookieTestResult& result) {
    std::vector<std::string> messages;
    if (result.refused)
        messages.emplace_back("当前cookie无效，请更换！");
    if (result.accepted)
        messages.emplace_back("验证成功，可以使用该cookie进行查询");
    if (messages.empty())
        messages.push_back("无法验证cookie：" + result.reason);
    return messages;
}

} // namespace corvanta
