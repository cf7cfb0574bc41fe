#pragma once

#include <atomic>
#include <cstddef>
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
    // The most body bytes accepted; a longer answer ends the exchange with the failure text
    // "715 响应数据过大!" as soon as it is seen to be longer. 0: no limit.
    std::size_t maxBodyBytes = 0;

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

// Like webFetch, but on the calling thread's kept connections: an exchange that follows
// another to the same service on the same thread goes out on the connection that one left
// open (TLS sessions are resumed too) instead of opening a new one. A kept connection that
// the service has closed meanwhile is replaced without failing the exchange. The library's
// cookie engine stays off, so each request carries exactly its own exchange's Cookie line;
// nothing else of one exchange reaches the next. The kept connections close when the
// thread ends.
std::string webFetchKeepingConnection(WebExchange& exchange);

// The most body bytes the program's own requests accept: 16 MiB.
inline constexpr std::size_t kOwnRequestMaxBodyBytes = 16u * 1024u * 1024u;

// The program's own requests: a body-less exchange with the given cookie text, accepting
// at most kOwnRequestMaxBodyBytes of body.
std::string webFetch(const std::string& url, int method, const std::string& sendCookies);

} // namespace corvanta
