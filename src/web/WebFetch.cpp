#include "web/WebFetch.h"

#include "util/Platform.h"
#include "util/TextSearch.h"
#include "util/Utf8.h"
#include "web/CookieText.h"
#include "web/HeaderBlock.h"
#include "web/ResponseDecoding.h"

#include <algorithm>
#include <chrono>
#include <curl/curl.h>
#include <memory>
#include <optional>

namespace corvanta {

namespace {

using Clock = std::chrono::steady_clock;

// The numbered failure texts the exchange reports in statusText.
constexpr const char* kNoPlatform = "700 当前系统不支持WinHttp服务!";
constexpr const char* kBadUrl = "701 解析URL地址失败!";
constexpr const char* kNoSession = "702 创建WinHttp会话失败!";
constexpr const char* kNoRequest = "704 创建WinHttp请求失败!";
constexpr const char* kNoTimeouts = "705 设置超时时间失败!";
constexpr const char* kNoCredentials = "707 设置代理凭证失败!";
[[maybe_unused]] constexpr const char* kNoCookieOption = "708 禁止自动设置Cookies失败!";
[[maybe_unused]] constexpr const char* kNoRedirectOption = "709 重定向设置失败!";
constexpr const char* kBadHeaders = "710 设置协议头失败!";
constexpr const char* kSendFailed = "711 发送请求失败!";
constexpr const char* kNoResponse = "712 服务器未响应!";
constexpr const char* kReadFailed = "713 读取数据失败!";
constexpr const char* kCancelled = "714 请求已取消!";
constexpr const char* kTooLarge = "715 响应数据过大!";
constexpr const char* kCertificate = "忽略错误/证书错误  失败！";

constexpr int kDefaultTimeoutMs = 30000;
constexpr long kMaxRedirects = 10;
constexpr int kPollIntervalMs = 25;

const char* verbFor(int method) {
    static constexpr const char* verbs[] = {"GET",     "POST",   "HEAD",  "PUT",
                                            "OPTIONS", "DELETE", "TRACE", "CONNECT"};
    return (method >= 0 && method < 8) ? verbs[method] : verbs[0];
}

bool curlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

// The library is set up while the program starts, on its main thread, as libcurl asks:
// set up on the first worker thread instead, its TLS library's state for that thread
// could outlive the thread's end when the worker ends after the program's exit began.
[[maybe_unused]] const bool curlReadyAtStart = curlReady();

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct UrlDeleter {
    void operator()(CURLU* h) const { curl_url_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// The status code of a header block's status line ("HTTP/1.1 302 Found" gives 302), or 0.
int statusCodeOf(std::string_view block) {
    const size_t space = block.find(' ');
    if (space == std::string_view::npos || block.size() < space + 4)
        return 0;
    int code = 0;
    for (size_t i = space + 1; i < space + 4; ++i) {
        const char c = block[i];
        if (c < '0' || c > '9')
            return 0;
        code = code * 10 + (c - '0');
    }
    return code;
}

// What one request of the exchange has seen so far; the callbacks write it, the wait loop
// reads it.
struct Transfer {
    std::string headerBlock; // the current response's header lines
    bool sawResponse = false;
    bool headersComplete = false; // the final answer's head is in: the body comes next
    bool endAfterHead = false;    // a HEAD sent with a body: the answer ends with its head
    std::string body;
    std::size_t maxBody = 0; // 0: no limit
    bool bodyTooLarge = false;
    curl_off_t uploaded = 0;
    bool requestStarted = false;
    Clock::time_point lastActivity = Clock::now();
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        // A new response: an interim 1xx answer or a proxy's CONNECT answer came before;
        // only the final response's headers and body are kept.
        t->headerBlock.clear();
        t->body.clear();
        t->headersComplete = false;
    }
    t->headerBlock.append(line);
    t->sawResponse = true;
    // An announced length within the limit is taken at its word: the body then never moves.
    if (t->maxBody > 0 && line.size() > 15 &&
        findText(line.substr(0, 15), "Content-Length:", 0, true) == 1) {
        const size_t digits = line.find_first_of("0123456789", 15);
        size_t length = 0;
        for (size_t i = digits;
             i < line.size() && line[i] >= '0' && line[i] <= '9' && length <= t->maxBody; ++i)
            length = length * 10 + static_cast<size_t>(line[i] - '0');
        if (digits != std::string_view::npos && length <= t->maxBody)
            t->body.reserve(length);
    }
    if (line == "\r\n" || line == "\n") {
        // An interim answer (1xx) is followed by the real one, and a proxy's consent to a
        // tunnel (before the request itself went out) by the connection to the server.
        const int code = statusCodeOf(t->headerBlock);
        const bool interim = code >= 100 && code < 200;
        const bool tunnelOpened = !t->requestStarted && code >= 200 && code < 300;
        if (tunnelOpened)
            t->sawResponse = false;
        t->headersComplete = !interim && !tunnelOpened;
        t->lastActivity = Clock::now();
        if (t->headersComplete && t->endAfterHead)
            return 0; // ends the transfer here; run() takes it as the complete answer
        return line.size();
    }
    t->lastActivity = Clock::now();
    return line.size();
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (t->maxBody > 0) {
        if (n > t->maxBody - t->body.size()) {
            t->bodyTooLarge = true;
            return 0; // ends the transfer with a write error
        }
        // Grow in powers of two, never past the limit, so that the body of an answer that
        // is too long never holds more than the limit (the string's own growth could reach
        // almost twice as much).
        const size_t needed = t->body.size() + n;
        if (needed > t->body.capacity()) {
            size_t grown = 64 * 1024;
            while (grown < needed)
                grown *= 2;
            t->body.reserve(std::min(t->maxBody, grown));
        }
    }
    t->body.append(data, n);
    t->lastActivity = Clock::now();
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
    auto* t = static_cast<Transfer*>(user);
    if (ulnow != t->uploaded) {
        t->uploaded = ulnow;
        t->lastActivity = Clock::now();
    }
    return 0;
}

// Called once a connection is ready and the request is about to go out.
int onRequestReady(void* user, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(user);
    t->requestStarted = true;
    t->lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

// Bytes a URL may not carry as they are (blanks, controls, non-ASCII) are percent-encoded
// so that the parser accepts addresses the way users type them.
std::string escapeUrl(std::string_view url) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string urlPart(CURLU* url, CURLUPart part) {
    char* value = nullptr;
    if (curl_url_get(url, part, &value, 0) != CURLUE_OK || value == nullptr)
        return {};
    std::string result(value);
    curl_free(value);
    return result;
}

// Header text taken from the wire is UTF-8 when it is well-formed, else legacy bytes.
std::string headerText(std::string raw) {
    if (utf8::isValid(raw))
        return raw;
    if (auto decoded = platform::convertCharset(raw, platform::legacyCharset, "UTF-8"))
        return std::move(*decoded);
    return raw;
}

bool hasHeaderNamed(std::string_view block, std::string_view name) {
    for (std::string_view line : splitAtCrLf(block)) {
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon != name.size())
            continue;
        if (findText(line.substr(0, colon), name, 0, true) == 1)
            return true;
    }
    return false;
}

// Turns the header block into libcurl's list. Blank lines carry no header; a line without
// a colon, or with a stray CR or LF, is refused. Headers the block does not set are kept
// from being added by the library, so the block alone decides them.
std::optional<HeaderList> headerList(std::string_view block) {
    HeaderList list;
    auto append = [&list](const std::string& line) {
        curl_slist* grown = curl_slist_append(list.get(), line.c_str());
        if (grown == nullptr)
            return false;
        list.release();
        list.reset(grown);
        return true;
    };
    for (std::string_view piece : splitAtCrLf(block)) {
        if (piece.empty())
            continue;
        const size_t colon = piece.find(':');
        if (colon == std::string_view::npos || colon == 0 ||
            piece.find_first_of("\r\n") != std::string_view::npos ||
            piece.find('\0') != std::string_view::npos)
            return std::nullopt;
        std::string line(piece);
        // libcurl drops a header whose value is blank; "Name;" sends it empty.
        if (piece.find_first_not_of(' ', colon + 1) == std::string_view::npos)
            line = std::string(piece.substr(0, colon)) + ";";
        if (!append(line))
            return std::nullopt;
    }
    for (const char* name : {"Accept", "Content-Type", "Expect"}) {
        if (!hasHeaderNamed(block, name) && !append(std::string(name) + ":"))
            return std::nullopt;
    }
    return list;
}

std::string withoutLineBreaks(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

std::string untilNul(std::string_view text) {
    return std::string(text.substr(0, text.find('\0')));
}

bool isCertificateFailure(CURLcode code) {
    return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_ISSUER_ERROR ||
           code == CURLE_SSL_PINNEDPUBKEYNOTMATCH;
}

bool isFollowedRedirect(int code) {
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// The Location value of a header block, or empty.
std::string locationOf(std::string_view block) {
    for (std::string_view line : splitAtCrLf(block)) {
        if (line.size() >= 9 && findText(line.substr(0, 9), "Location:", 0, true) == 1) {
            const size_t value = line.find_first_not_of(" \t", 9);
            return value == std::string_view::npos ? std::string()
                                                   : std::string(line.substr(value));
        }
    }
    return {};
}

// The cookies a header block sets, as "a=1; b=2".
std::string cookiesSetBy(std::string_view block) {
    std::string cookies;
    for (std::string_view line : splitAtCrLf(block)) {
        if (const std::string cookie = setCookieFromLine(line); !cookie.empty())
            cookies += (cookies.empty() ? "" : "; ") + cookie;
    }
    return cookies;
}

class Exchange {
public:
    // easy and multi: the handles to run on, kept by the caller for later exchanges; null
    // for fresh ones that end with the exchange.
    Exchange(WebExchange& io, CURL* easy, CURLM* multi)
        : io_(io), keptEasy_(easy), keptMulti_(multi) {}

    std::string run();

private:
    std::string fail(const char* text) {
        io_.statusText = text;
        return {};
    }
    bool parseAddress(const std::string& address, unsigned flags);
    const char* configure(CURL* easy);
    const char* configureRequest(CURL* easy);
    const char* waitForTransfer(CURL* easy, CURLcode& result);
    const char* failureOf(CURLcode code) const;
    const char* followRedirect(int code, const std::string& location);
    std::string finish();

    WebExchange& io_;
    CURL* keptEasy_ = nullptr;
    CURLM* keptMulti_ = nullptr;
    UrlHandle url_;
    EasyHandle ownEasy_;
    MultiHandle ownMulti_;
    CURLM* multi_ = nullptr;
    HeaderList headers_;
    int method_ = 0;
    std::string body_;
    std::string cookies_; // what the next request's Cookie line carries
    std::string origin_;  // scheme, host and port of the address the caller gave
    std::string requestTarget_;
    int timeoutMs_ = kDefaultTimeoutMs;
    Transfer transfer_;
};

// Takes an address (or a redirect's Location, relative to the current one). The user name
// and password an address may carry are dropped: only serverUser and serverPassword
// authenticate. False when the address is not a usable http or https address.
bool Exchange::parseAddress(const std::string& address, unsigned flags) {
    if (curl_url_set(url_.get(), CURLUPART_URL, escapeUrl(address).c_str(), flags) != CURLUE_OK)
        return false;
    curl_url_set(url_.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(url_.get(), CURLUPART_PASSWORD, nullptr, 0);
    curl_url_set(url_.get(), CURLUPART_OPTIONS, nullptr, 0);
    const std::string scheme = urlPart(url_.get(), CURLUPART_SCHEME);
    return (scheme == "http" || scheme == "https") && !urlPart(url_.get(), CURLUPART_HOST).empty();
}

std::string Exchange::run() {
    if (!curlReady())
        return fail(kNoPlatform);
    if (io_.cancel && io_.cancel->load(std::memory_order_relaxed))
        return fail(kCancelled);

    // The path is requested as given: dot segments stay.
    url_.reset(curl_url());
    if (!url_ || !parseAddress(io_.url, CURLU_PATH_AS_IS))
        return fail(kBadUrl);
    origin_ = urlPart(url_.get(), CURLUPART_SCHEME) + "://" + urlPart(url_.get(), CURLUPART_HOST) +
              ":" + urlPart(url_.get(), CURLUPART_PORT);

    CURL* easy = keptEasy_;
    multi_ = keptMulti_;
    if (easy != nullptr) {
        // Back to the defaults; the handle keeps its open connections and TLS sessions.
        curl_easy_reset(easy);
    } else {
        ownEasy_.reset(curl_easy_init());
        ownMulti_.reset(curl_multi_init());
        easy = ownEasy_.get();
        multi_ = ownMulti_.get();
    }
    if (easy == nullptr || multi_ == nullptr)
        return fail(kNoSession);
    if (const char* failure = configure(easy))
        return fail(failure);

    // Redirects are followed here rather than by the library, so that every request of the
    // exchange carries one Cookie line with the cookies the earlier answers set, and so that
    // each request's phases are told apart on their own.
    method_ = io_.method;
    body_ = io_.postBytes.empty() ? untilNul(io_.postText) : io_.postBytes;
    cookies_ = withoutLineBreaks(io_.sendCookies);
    for (long hop = 0;; ++hop) {
        if (const char* failure = configureRequest(easy))
            return fail(failure);
        transfer_ = Transfer{};
        transfer_.maxBody = io_.maxBodyBytes;
        // The library would send no body with its own HEAD, so a HEAD with a body goes out
        // as a named verb, and the answer, which never has a body, ends with its head.
        transfer_.endAfterHead = method_ == 2 && !body_.empty();
        CURLcode result = CURLE_OK;
        if (const char* failure = waitForTransfer(easy, result))
            return fail(failure);
        if (transfer_.bodyTooLarge || result == CURLE_FILESIZE_EXCEEDED)
            return fail(kTooLarge);
        if (result == CURLE_WRITE_ERROR && transfer_.endAfterHead && transfer_.headersComplete)
            result = CURLE_OK;
        if (result != CURLE_OK) {
            // A proxy that refuses the tunnel answers like a server: keep its answer.
            long connectCode = 0;
            curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
            if (!(connectCode >= 300 && transfer_.headersComplete))
                return fail(failureOf(result));
            transfer_.body.clear();
            return finish();
        }
        const int code = statusCodeOf(transfer_.headerBlock);
        const std::string location = locationOf(transfer_.headerBlock);
        if (io_.noRedirect || !isFollowedRedirect(code) || location.empty())
            return finish();
        if (hop == kMaxRedirects)
            return fail(kNoResponse); // a loop: no final answer ever came
        if (const char* failure = followRedirect(code, location))
            return fail(failure);
    }
}

// Moves on to a redirect's target. The verb and body change as browsers do (303 asks for
// GET, and 301 and 302 turn a POST into GET); the cookies the redirect set join those sent
// when cookies are sent at all.
const char* Exchange::followRedirect(int code, const std::string& location) {
    if (!parseAddress(location, 0))
        return kNoResponse;
    if ((code == 303 && method_ != 2) || ((code == 301 || code == 302) && method_ == 1)) {
        method_ = 0;
        body_.clear();
    }
    if (!io_.sendCookies.empty()) {
        const std::string received = cookiesSetBy(transfer_.headerBlock);
        cookies_ = mergeCookieText(cookies_, received);
    }
    return nullptr;
}

// Settings that hold for every request of the exchange.
const char* Exchange::configure(CURL* easy) {
    auto set = [easy](CURLoption option, auto value) {
        return curl_easy_setopt(easy, option, value) == CURLE_OK;
    };

    const bool ok = set(CURLOPT_NOSIGNAL, 1L) &&
                    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) &&
                    set(CURLOPT_PATH_AS_IS, 1L) && set(CURLOPT_PROTOCOLS_STR, "http,https") &&
                    set(CURLOPT_FOLLOWLOCATION, 0L);
    if (!ok)
        return kNoRequest;

    // Proxy and time-outs.
    std::string proxy;
    if (!io_.proxyAddress.empty()) {
        proxy = io_.proxyAddress.find("://") == std::string::npos ? "http://" + io_.proxyAddress
                                                                  : io_.proxyAddress;
    }
    if (!set(CURLOPT_PROXY, proxy.c_str()))
        return kNoSession;
    timeoutMs_ = io_.timeoutSeconds >= 1 ? io_.timeoutSeconds * 1000 : kDefaultTimeoutMs;
    if (!set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs_)))
        return kNoTimeouts;

    if (!io_.proxyUser.empty() && !io_.proxyPassword.empty()) {
        if (!set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)) ||
            !set(CURLOPT_PROXYUSERNAME, io_.proxyUser.c_str()) ||
            !set(CURLOPT_PROXYPASSWORD, io_.proxyPassword.c_str()))
            return kNoCredentials;
    }

    // Certificates are checked unless the caller asks otherwise.
    const long verify = io_.ignoreCertErrors ? 0L : 1L;
    if (!set(CURLOPT_SSL_VERIFYPEER, verify) || !set(CURLOPT_SSL_VERIFYHOST, verify * 2))
        return kCertificate;

    // A body announced longer than the limit is refused before it is read.
    if (io_.maxBodyBytes > 0 &&
        !set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(io_.maxBodyBytes)))
        return kNoRequest;

    const bool callbacks =
        set(CURLOPT_HEADERFUNCTION, onHeader) && set(CURLOPT_HEADERDATA, &transfer_) &&
        set(CURLOPT_WRITEFUNCTION, onBody) && set(CURLOPT_WRITEDATA, &transfer_) &&
        set(CURLOPT_NOPROGRESS, 0L) && set(CURLOPT_XFERINFOFUNCTION, onProgress) &&
        set(CURLOPT_XFERINFODATA, &transfer_) && set(CURLOPT_PREREQFUNCTION, onRequestReady) &&
        set(CURLOPT_PREREQDATA, &transfer_);
    return callbacks ? nullptr : kNoRequest;
}

// Settings of the next request: its address and target, verb, body, credentials and
// header block.
const char* Exchange::configureRequest(CURL* easy) {
    auto set = [easy](CURLoption option, auto value) {
        return curl_easy_setopt(easy, option, value) == CURLE_OK;
    };

    // A fragment is part of the object requested, as the address gave it: after the path
    // to a server, and in the whole address to a proxy that forwards a plain request.
    requestTarget_.clear();
    if (const std::string fragment = urlPart(url_.get(), CURLUPART_FRAGMENT); !fragment.empty()) {
        const bool forwarded =
            !io_.proxyAddress.empty() && urlPart(url_.get(), CURLUPART_SCHEME) == "http";
        if (forwarded) {
            requestTarget_ = urlPart(url_.get(), CURLUPART_URL);
        } else {
            requestTarget_ = urlPart(url_.get(), CURLUPART_PATH);
            if (const std::string query = urlPart(url_.get(), CURLUPART_QUERY); !query.empty())
                requestTarget_ += "?" + query;
            requestTarget_ += "#" + fragment;
        }
    }

    // Every verb of the table sends the body it is given; HEAD then still expects no body in
    // the answer.
    const int method = method_;
    bool ok = set(CURLOPT_CURLU, url_.get()) && set(CURLOPT_HTTPGET, 1L) &&
              set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr)) &&
              set(CURLOPT_REQUEST_TARGET, requestTarget_.empty() ? static_cast<const char*>(nullptr)
                                                                 : requestTarget_.c_str());
    const bool sendsBody = !body_.empty() || method == 1 || method == 3;
    if (ok && method == 2 && !sendsBody)
        ok = set(CURLOPT_NOBODY, 1L);
    if (ok && sendsBody) {
        ok = set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size())) &&
             set(CURLOPT_POSTFIELDS, body_.data());
    }
    // POST is libcurl's own verb for a body; every other verb is named explicitly.
    const bool namedVerb = method >= 2 && method <= 7;
    if (ok && (namedVerb || (method != 1 && sendsBody)))
        ok = set(CURLOPT_CUSTOMREQUEST, verbFor(method));
    if (!ok)
        return kNoRequest;

    // Server credentials, only when both halves are given, and only to the address the
    // caller named, never to a host a redirect leads to.
    const std::string origin = urlPart(url_.get(), CURLUPART_SCHEME) + "://" +
                               urlPart(url_.get(), CURLUPART_HOST) + ":" +
                               urlPart(url_.get(), CURLUPART_PORT);
    const bool authenticate =
        !io_.serverUser.empty() && !io_.serverPassword.empty() && origin == origin_;
    if (authenticate) {
        if (!set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)) ||
            !set(CURLOPT_USERNAME, io_.serverUser.c_str()) ||
            !set(CURLOPT_PASSWORD, io_.serverPassword.c_str()))
            return kNoCredentials;
    } else if (!set(CURLOPT_USERNAME, static_cast<const char*>(nullptr)) ||
               !set(CURLOPT_PASSWORD, static_cast<const char*>(nullptr))) {
        return kNoCredentials;
    }

    const std::string block = assembleRequestHeaders(io_.extraHeaders, method, cookies_,
                                                     io_.addDefaultHeaders, io_.normalizeHeaders);
    std::optional<HeaderList> list = headerList(block);
    if (!list || !set(CURLOPT_HTTPHEADER, list->get()))
        return kBadHeaders;
    headers_ = std::move(*list);
    return nullptr;
}

// Runs the transfer, watching each phase: once the request is under way, a pause longer
// than the time-out while sending, while waiting for the answer or while reading the body
// ends the call. A slow but steady body never does.
const char* Exchange::waitForTransfer(CURL* easy, CURLcode& result) {
    CURLM* multi = multi_;
    if (curl_multi_add_handle(multi, easy) != CURLM_OK)
        return kNoSession;
    const auto timeout = std::chrono::milliseconds(timeoutMs_);
    const char* failure = nullptr;
    bool done = false;
    while (!done) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            failure = kSendFailed;
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
                done = true;
            }
        }
        if (done)
            break;
        if (io_.cancel && io_.cancel->load(std::memory_order_relaxed)) {
            failure = kCancelled;
            break;
        }
        if (transfer_.requestStarted && Clock::now() - transfer_.lastActivity > timeout) {
            if (transfer_.headersComplete)
                failure = kReadFailed;
            else if (!transfer_.sawResponse &&
                     transfer_.uploaded < static_cast<curl_off_t>(body_.size()))
                failure = kSendFailed;
            else
                failure = kNoResponse;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, kPollIntervalMs, nullptr);
    }
    curl_multi_remove_handle(multi, easy);
    return failure;
}

// Which phase a failed transfer ended in: certificate, body, answer, or sending.
const char* Exchange::failureOf(CURLcode code) const {
    if (isCertificateFailure(code))
        return kCertificate;
    if (transfer_.headersComplete)
        return kReadFailed;
    if (transfer_.sawResponse)
        return kNoResponse;
    switch (code) {
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_OPERATION_TIMEDOUT:
        return transfer_.requestStarted ? kNoResponse : kSendFailed;
    default:
        return kSendFailed;
    }
}

std::string Exchange::finish() {
    io_.responseHeaders = headerText(std::move(transfer_.headerBlock));
    const std::string& headers = io_.responseHeaders;
    const size_t lineEnd = headers.find("\r\n", 9);
    io_.statusText =
        headers.size() > 9
            ? headers.substr(9, lineEnd == std::string::npos ? std::string::npos : lineEnd - 9)
            : std::string();

    for (std::string_view line : splitAtCrLf(headers)) {
        if (const std::string cookie = setCookieFromLine(line); !cookie.empty())
            io_.receivedCookies += cookie + "; ";
        if (line.size() >= 10 && findText(line.substr(0, 10), "Location: ", 0, true) == 1)
            io_.redirectLocation = std::string(line.substr(10));
    }
    if (io_.receivedCookies.ends_with("; "))
        io_.receivedCookies.resize(io_.receivedCookies.size() - 2);
    if (io_.mergeCookies && !io_.sendCookies.empty())
        io_.receivedCookies = mergeCookieText(io_.sendCookies, io_.receivedCookies);

    io_.responseBytes = std::move(transfer_.body);
    return decodeResponseText(untilNul(io_.responseBytes), io_.responseBytes);
}

} // namespace

std::string webFetch(WebExchange& exchange) {
    return Exchange(exchange, nullptr, nullptr).run();
}

namespace {

// The handles a thread keeps between its exchanges: the multi handle holds the open
// connections, the easy handle the TLS sessions.
struct KeptHandles {
    EasyHandle easy;
    MultiHandle multi;
};

} // namespace

std::string webFetchKeepingConnection(WebExchange& exchange) {
    if (!curlReady()) {
        exchange.statusText = kNoPlatform;
        return {};
    }
    thread_local KeptHandles kept;
    if (!kept.easy || !kept.multi) {
        kept.easy.reset(curl_easy_init());
        kept.multi.reset(curl_multi_init());
        if (!kept.easy || !kept.multi) {
            exchange.statusText = kNoSession;
            return {};
        }
    }
    return Exchange(exchange, kept.easy.get(), kept.multi.get()).run();
}

std::string webFetch(const std::string& url, int method, const std::string& sendCookies) {
    WebExchange exchange;
    exchange.url = url;
    exchange.method = method;
    exchange.sendCookies = sendCookies;
    exchange.maxBodyBytes = kOwnRequestMaxBodyBytes;
    return webFetch(exchange);
}

} // namespace corvanta
