#pragma once

// The cookie test: one fixed index request (中国, 7 days) with the user's cookie, and what
// its answer says about the cookie.

#include <atomic>
#include <string>
#include <vector>

namespace corvanta {

struct CookieTestResult {
    bool refused = false;  // the answer holds {"status":10000
    bool accepted = false; // the answer holds {"status":0
    std::string reason;    // why neither was found: the failure or what the service said
};

CookieTestResult testCookie(const std::string& base, const std::string& cookie,
                            const std::atomic<bool>* cancel = nullptr);

// The messages to show, in order: the refusal, then the acceptance; when the answer held
// neither, one message saying that the cookie could not be checked and why.
std::vector<std::string> cookieTestMessages(const CookieTestResult& result);

} // namespace corvanta
