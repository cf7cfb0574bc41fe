#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace corvanta::fake {

// One request exactly as it arrived on the wire.
struct RecordedRequest {
    std::string raw;                      // every byte of the request: head and body as framed
    std::string requestLine;              // first line without CR LF
    std::string method;                   // e.g. "POST"
    std::string target;                   // as sent: origin-form, absolute-form or host:port
    std::vector<std::string> headerLines; // in order, original case and spacing, without CR LF
    std::string body;                     // the body after de-chunking
    int connection = 0;                   // serial number of the connection it came on (from 1)
    bool tls = false;                     // received over TLS (recorded after decryption)
    bool tlsResumed = false;              // its TLS connection resumed an earlier session
};

// The three averages the service answers for a keyword and period, with their
// year-on-year and period-on-period changes.
struct Averages {
    long long all = 0;
    long long pc = 0;
    long long wise = 0;
    int allYoy = 0, allQoq = 0, pcYoy = 0, pcQoq = 0, wiseYoy = 0, wiseQoq = 0;
};

// A piece of a scripted answer: waits delayMs, then writes bytes.
struct RawChunk {
    std::string bytes;
    int delayMs = 0;
};

// What happens to the connection after a scripted answer has been written.
enum class RawEnd {
    Close,    // orderly close (FIN)
    Reset,    // abortive close (RST)
    KeepOpen, // keep reading further requests on the connection
};

// Exact bytes to answer one request with, whatever its path or method.
struct RawAnswer {
    std::vector<RawChunk> chunks;
    RawEnd end = RawEnd::Close;
};

// Misbehaviours of the index route (/api/SearchApi/index); other paths are never affected.
enum class Fault {
    None,
    StallBeforeHeaders, // read the request, then send nothing for stallMs (0: until stop)
    StallMidBody,       // send the head and half of the body, then nothing for stallMs
    ResetConnection,    // read the request, then reset the connection
    ServerError,        // status serverErrorStatus with an HTML body
    MalformedJson,      // status 0 answer whose JSON structure is broken
    TruncatedJson,      // status 0 answer cut short, with an honest Content-Length
    MissingSeries,      // status 0 answer without the missingSeries series
    OversizedBody,      // status 0 answer padded to oversizedBytes
    Redirect,           // 302 to the same route, redirectHops times
    SetCookies,         // normal answer with the setCookies Set-Cookie lines
    MetaCharsetPage,    // an HTML page declaring pageCharset in a meta tag
    RateLimited,        // {"status":10001,...}
    UnknownKeyword,     // {"status":10002,...} for every keyword
    Mixed,              // each keyword gets the fault mixedFaultFor(keyword) names
};

enum class Series { All, Pc, Wise };

// A fault with its parameters; only the fields of the chosen fault matter.
struct FaultConfig {
    Fault fault = Fault::None;
    int stallMs = 0;
    int serverErrorStatus = 500;
    Series missingSeries = Series::Pc;
    std::size_t oversizedBytes = 50u * 1024u * 1024u;
    bool oversizedChunked = false; // true: the oversized body comes chunked, its length unsaid
    std::size_t truncateAt = 0;    // bytes of the answer kept; 0 cuts just before the PC series
    int redirectHops = 1;
    bool relativeRedirect = false; // Location "/api/..." instead of "http://127.0.0.1:PORT/api/..."
    std::vector<std::string> setCookies = {"BAIDUID=fake0001:FG=1; path=/; domain=127.0.0.1",
                                           "bdindexid=fakeid; path=/"};
    std::string pageCharset = "gb2312";
    std::string pageText = "\xE4\xB8\xAD\xE5\x9B\xBD"; // UTF-8, encoded into pageCharset
    std::string pageBody; // when not empty, sent verbatim instead of the generated page
};

// How the service treats each account, known by the request's Cookie header: limits that
// long runs meet. Zero switches a rule off.
struct AccountRules {
    // More index requests than this from one cookie within any second: status 10001.
    int requestsPerSecond = 0;
    // A cookie whose text holds the key is logged out (status 10000) after that many
    // index requests.
    std::map<std::string, int> expireAfter;
    // This share (0 to 1) of the keywords, chosen by a hash of the keyword, gets a 503 page
    // for its first transientRepeats index requests, before any other rule: a failure that
    // a retry overcomes.
    double transientShare = 0;
    int transientRepeats = 1;
};

// A stand-in for the index service, for tests, benchmarks and demos. It listens on
// 127.0.0.1, records every request byte for byte and answers like the service, or with
// configured faults, scripted raw bytes, proxy behaviour and authentication challenges.
// Every setter is thread-safe and takes effect for the next request.
//
// Each recorded request is answered by the first of these that applies:
//  1. the next queued raw answer, whatever the request (CONNECT included);
//  2. 407 for a proxy request (absolute-form or CONNECT) without the proxy credentials;
//  3. CONNECT: "200 Connection established" and a tunnel to a loopback host:port, 403 for
//     other hosts or when not allowed, 501 in TLS mode;
//  4. 401 without the server credentials; then the latency wait;
//  5. the index route, GET or POST: the fault's answer, else 10000 for a refused cookie,
//     10018 when a required header is missing, 10002 for an unknown or empty keyword, a
//     days value that is not a positive number or bad dates, else the status 0 answer.
//     Redirect, ServerError and MetaCharsetPage do not look at the cookie; redirects add
//     "hop=N" to the query. The word may be the keyword itself (the plain form, answered
//     as successBody) or the list form [[{"name":"K","wordType":1}],...] with one to five
//     keywords, answered with each keyword's generalRatio entry and its daily figures
//     encoded under a fresh uniqid; startDate and endDate may replace days; a non-zero
//     area changes the figures;
//  6. /api/AddWordApi/checkWordsExists?word=a,b: the unknown keywords among the words;
//  7. /Interface/api/ptbk and /Interface/ptbk?uniqid=U: the key of an answer's uniqid.
// Other paths get 404.
// A request with "Expect: 100-continue" and a body gets "100 Continue" before its body is
// read. Connections stay open between answers unless the client asks to close.
class FakeIndexService {
public:
    struct Options {
        int port = 0; // 0: an ephemeral port
        bool tls = false;
        int latencyMs = 0;
        std::string acceptedCookie = "BDUSS=corvanta-demo";
        int idleTimeoutMs = 30000; // a connection silent this long is closed
        // False: requests are counted but their bytes are not kept (long benchmark runs).
        bool keepRequests = true;
        // A round trip to a distant service: every chunk is held rttMs / 2 in each direction
        // (and a new connection a whole round trip before its first chunk arrives), so that
        // connection set-up, a TLS handshake and each request cost what they would cost
        // over such a distance. 0: no delay.
        int rttMs = 0;
    };

    FakeIndexService();
    explicit FakeIndexService(Options options);
    ~FakeIndexService();
    FakeIndexService(const FakeIndexService&) = delete;
    FakeIndexService& operator=(const FakeIndexService&) = delete;

    // Binds and starts serving; false when the port cannot be bound or TLS cannot be set up
    // (lastError() then says why). Sets SIGPIPE to ignored if it has its default action, so
    // that a client going away during a TLS write cannot end the process.
    bool start();
    std::string lastError() const;
    // Ends every connection (stalls and tunnels included) and every thread. Idempotent.
    void stop();
    bool running() const;

    int port() const;
    std::string baseUrl() const; // "http://127.0.0.1:PORT" or "https://..."
    // The index route for a keyword, percent-encoding every byte of it.
    std::string indexUrl(std::string_view keyword, int days) const;
    // PEM of the self-signed certificate in TLS mode, empty otherwise.
    std::string certificatePem() const;

    void setLatencyMs(int ms);
    // A request is accepted when one of its Cookie headers contains this text; empty accepts all.
    void setAcceptedCookie(std::string text);
    void setFault(Fault fault);
    void setFault(FaultConfig config);
    FaultConfig fault() const;
    void setAccountRules(AccountRules rules);
    // Answers given under the account rules since the start: 10001 blocks, 10000 for an
    // expired cookie, 503 transient failures.
    int blockedAnswers() const;
    int expiredAnswers() const;
    int transientAnswers() const;
    // Keywords (UTF-8) answered with status 10002.
    void setUnknownKeywords(std::set<std::string> keywords);
    // Index requests without this header line (name in any case, exact value) are answered
    // with status 10018; an empty name requires nothing.
    void setRequiredHeader(std::string name, std::string value);
    // Which key addresses answer (the other gets 404), and how many key requests from now
    // on are answered with an empty key.
    void setKeyAddresses(bool current, bool older);
    void setEmptyKeyAnswers(int count);
    // Days cut from the end of every encoded daily series (a series shorter than asked).
    void setSeriesDaysDropped(int days);

    // Queues answers for the next requests, in order, on any path.
    void queueRawAnswer(RawAnswer answer);
    void queueRawAnswer(std::string bytes, RawEnd end = RawEnd::Close);
    void clearRawAnswers();
    std::size_t pendingRawAnswers() const;

    // Basic credentials required at the service (401) and at the proxy (407); empty user: none.
    void setServerCredentials(std::string user, std::string password);
    void setProxyCredentials(std::string user, std::string password);
    // Whether CONNECT to a loopback host:port is tunnelled (default true).
    void setAllowConnect(bool allow);

    // The most requests in hand at the same time, each counted from its arrival until its
    // answer starts (the latency included), since the start or the last reset.
    int mostConcurrentAnswers() const;
    void resetMostConcurrentAnswers();

    std::vector<RecordedRequest> requests() const;
    void clearRequests();
    // Waits until at least n requests are recorded; false on timeout or stop.
    bool waitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;

    // The fault the Mixed mode gives a keyword (UTF-8), fixed by the keyword's hash: about
    // half of the keywords get None, the rest one each of StallBeforeHeaders, StallMidBody,
    // ResetConnection, ServerError, MalformedJson, TruncatedJson, MissingSeries, RateLimited
    // and OversizedBody. The other fields of the configured FaultConfig (stallMs,
    // oversizedBytes, missingSeries...) apply.
    static Fault mixedFaultFor(std::string_view keyword);

    // The averages answered for a keyword (UTF-8) and period in days, in a region.
    static Averages expectedAverages(std::string_view keyword, int days, int area = 0);
    // The daily figure of a keyword (UTF-8) on a date (YYYY-MM-DD) in a region; nothing for
    // a day without data (some days of every keyword have none).
    static std::optional<long long> dailyFigure(std::string_view keyword, std::string_view date,
                                                Series series, int area = 0);
    // The success answer's body for a keyword (UTF-8) and period.
    static std::string successBody(std::string_view keyword, int days);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace corvanta::fake
