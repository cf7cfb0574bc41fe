#pragma once

#include <atomic>
#include <string>

namespace corvanta {

// One complete HTTP or HTTPS exchange. Fill in the inputs, call webFetch, read the
// outputs. On failure webFetch returns an empty text, stores the numbered failure text
// in statusText and leaves every other field as it was.
struct WebExchange {
    // Inputs.
    std::string url;               // with scheme, http or https
    int method = 0;                // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE,
                                   // 6 TRACE, 7 CONNECT; anything else GET
    std::string postText;          // body as text (up to its first NUL); used when
                                   // postBytes is empty
    std::string postBytes;         // body as bytes; wins when not empty
    std::string extraHeaders;      // the caller's header lines, CR LF separated
    bool noRedirect = false;       // true: do not follow redirects
    std::string serverUser;        // basic authentication at the server, when both
    std::string serverPassword;    //   user and password are given
    std::string proxyAddress;      // host:port; empty for a direct connection
    std::string proxyUser;         // basic authentication at the proxy, when both
    std::string proxyPassword;     //   user and password are given
    int timeoutSeconds = 0;        // per phase; below 1 means 30 seconds
    bool mergeCookies = true;      // merge received cookies into sendCookies
    bool addDefaultHeaders = true; // add the missing default request lines
    bool normalizeHeaders = true;  // bring header names into canonical case
    bool ignoreCertErrors = false; // accept any server certificate (unsafe)
    // When set, the exchange watches this flag and ends with the failure text "714 请求已取消!"
    // soon after it becomes true (within one poll interval, 25 ms), wherever it is.
    const std::atomic<bool>* cancel = nullptr;

    // Inputs that the exchange may update.
    std::string sendCookies;      // "a=1; b=2"; replaced by the merged cookies
    std::string receivedCookies;  // the response's cookies are appended
    std::string redirectLocation; // the response's Location value, when it has one

    // Outputs.
    std::string responseHeaders; // raw header block of the final response
    std::string statusText;      // "200 OK", or the failure text
    std::string responseBytes;   // the body exactly as received
};

// Performs the exchange and returns the response body as UTF-8 text (decoded by its
// declared charset), or an empty text when the exchange failed. Safe on any number of
// threads at once; nothing is shared between calls.
std::string webFetch(WebExchange& exchange);

// The program's own requests: a body-less exchange with the given cookie text.
std::string webFetch(const std::string& url, int method, const std::string& sendCookies);

} // namespace corvanta
