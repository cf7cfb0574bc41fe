#include "FakeIndexService.h"

#include "IndexAnswers.h"
#include "SelfSignedCert.h"
#include "Wire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <httplib.h>
#include <list>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace corvanta::fake {

namespace {

constexpr std::size_t kMaxConnections = 512;
constexpr std::string_view kIndexPath = "/api/SearchApi/index";
constexpr std::string_view kCheckWordsPath = "/api/AddWordApi/checkWordsExists";
constexpr std::string_view kKeyPath = "/Interface/api/ptbk";
constexpr std::string_view kOlderKeyPath = "/Interface/ptbk";
// Carries the request target, hex-encoded, to the inner server, which percent-decodes both
// the target and header values.
constexpr std::string_view kTargetHeader = "X-Corvanta-Fake-Target";
// Carries the fault the front chose for a request in the Mixed mode to the inner server.
constexpr std::string_view kFaultHeader = "X-Corvanta-Fake-Fault";
// The most bytes the round-trip delay holds in one direction before it stops reading.
constexpr std::size_t kMaxDelayedBytes = 4u * 1024u * 1024u;

std::string hexEncode(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string hexDecode(std::string_view text) {
    auto nibble = [](char c) { return c >= 'a' ? c - 'a' + 10 : c - '0'; };
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(nibble(text[i]) * 16 + nibble(text[i + 1]));
    return out;
}

enum class Outcome { KeepOpen, Close, Reset };

const char* reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 407:
        return "Proxy Authentication Required";
    case 413:
        return "Payload Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// A complete answer made by the front end itself (challenges, proxy errors).
std::string plainAnswer(int status, std::string_view extraHeaderLines = {}, bool close = false) {
    const std::string body = std::to_string(status) + " " + reasonPhrase(status) + "\n";
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
    out += extraHeaderLines;
    out += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    return out + "\r\n" + body;
}

std::string base64(std::string_view text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

bool basicMatches(const std::optional<std::string>& header, const std::string& user,
                  const std::string& password) {
    if (!header)
        return false;
    const std::size_t space = header->find(' ');
    if (space == std::string::npos || !equalsIgnoreCase(header->substr(0, space), "Basic"))
        return false;
    std::string token = header->substr(space + 1);
    token.erase(0, token.find_first_not_of(' '));
    return token == base64(user + ":" + password);
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool isAbsoluteForm(std::string_view target) {
    return startsWithIgnoreCase(target, "http://") || startsWithIgnoreCase(target, "https://");
}

// "http://host:port/p?q" -> "/p?q"; no path gives "/".
std::string originForm(std::string_view target) {
    const std::size_t authority = target.find("://") + 3;
    const std::size_t slash = target.find_first_of("/?", authority);
    if (slash == std::string_view::npos)
        return "/";
    std::string rest(target.substr(slash));
    return rest.front() == '?' ? "/" + rest : rest;
}

std::string pathOf(std::string_view target) {
    return std::string(target.substr(0, target.find('?')));
}

// The decoded value of the target's "word" parameter, '+' read as a blank as the inner
// server reads it.
std::string wordOf(std::string_view target) {
    const std::size_t q = target.find('?');
    if (q == std::string_view::npos)
        return {};
    std::string_view query = target.substr(q + 1);
    std::size_t at = 0;
    while (at < query.size() && !query.substr(at).starts_with("word=")) {
        at = query.find('&', at);
        at = at == std::string_view::npos ? query.size() : at + 1;
    }
    if (at >= query.size())
        return {};
    std::string_view value = query.substr(at + 5);
    value = value.substr(0, value.find('&'));
    auto hex = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    std::string word;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && hex(value[i + 1]) >= 0 &&
            hex(value[i + 2]) >= 0) {
            word += static_cast<char>(hex(value[i + 1]) * 16 + hex(value[i + 2]));
            i += 2;
        } else {
            word += value[i] == '+' ? ' ' : value[i];
        }
    }
    return word;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool clientWantsClose(const RecordedRequest& req) {
    const auto connection = headerValue(req.headerLines, "Connection");
    if (connection && containsIgnoreCase(*connection, "close"))
        return true;
    return req.requestLine.ends_with("HTTP/1.0") &&
           !(connection && containsIgnoreCase(*connection, "keep-alive"));
}

std::string headerName(std::string_view line) {
    const std::size_t colon = line.find(':');
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    return std::string(name);
}

} // namespace

struct FakeIndexService::Impl {
    struct Settings {
        int latencyMs = 0;
        std::string acceptedCookie;
        FaultConfig fault;
        std::set<std::string> unknownKeywords;
        std::string requiredHeaderName, requiredHeaderValue;
        bool keyCurrent = true, keyOlder = true;
        int droppedDays = 0;
        std::string serverUser, serverPassword, proxyUser, proxyPassword;
        bool allowConnect = true;
    };

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    Options options;

    mutable std::mutex settingsMu;
    Settings settings;

    mutable std::mutex scriptMu;
    std::deque<RawAnswer> scripts;

    mutable std::mutex recordMu;
    mutable std::condition_variable recordCv;
    std::vector<RecordedRequest> recorded;
    std::size_t recordedCount = 0; // every request since the last clear, kept or not

    std::mutex lifeMu; // serialises start() and stop()
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    UniqueFd listenFd;
    std::atomic<int> boundPort{0};
    std::thread acceptThread;
    std::atomic<int> connectionSerial{0};
    // The account rules and what they have seen.
    mutable std::mutex accountMu;
    AccountRules accountRules;
    std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> recentByCookie;
    std::map<std::string, int> usedByCookie;
    std::map<std::string, int> failuresByWord;
    std::atomic<int> blocked{0}, expired{0}, transient{0};

    // The answer the account rules give a request, if any: 503, 10000 or 10001.
    std::optional<int> accountAnswer(const httplib::Request& req) {
        std::lock_guard lock(accountMu);
        const AccountRules& r = accountRules;
        if (r.transientShare > 0) {
            const std::string word = req.get_param_value("word");
            if (static_cast<double>(fnv1a(word) % 10000) < r.transientShare * 10000 &&
                failuresByWord[word] < r.transientRepeats) {
                ++failuresByWord[word];
                ++transient;
                return 503;
            }
        }
        const std::string cookie = req.get_header_value("Cookie");
        const int used = ++usedByCookie[cookie];
        for (const auto& [key, limit] : r.expireAfter) {
            if (limit > 0 && cookie.find(key) != std::string::npos && used > limit) {
                ++expired;
                return 10000;
            }
        }
        if (r.requestsPerSecond > 0) {
            const auto now = std::chrono::steady_clock::now();
            auto& recent = recentByCookie[cookie];
            while (!recent.empty() && now - recent.front() >= std::chrono::seconds(1))
                recent.pop_front();
            recent.push_back(now);
            if (static_cast<int>(recent.size()) > r.requestsPerSecond) {
                ++blocked;
                return 10001;
            }
        }
        return std::nullopt;
    }

    std::atomic<int> answering{0};     // requests being answered right now
    std::atomic<int> mostAnswering{0}; // the most at once since the last reset

    std::mutex connMu;
    std::set<int> liveFds; // every socket a stop() must wake
    std::list<Worker> workers;

    std::unique_ptr<httplib::Server> inner;
    std::thread innerThread;
    int innerPort = 0;

    std::mutex keysMu;
    std::map<std::string, std::string> keys; // uniqid -> key of every list-form answer
    std::uint64_t answerSerial = 0;          // under keysMu
    int emptyKeys = 0;                       // key requests still to answer with "", under keysMu

    SslContextOwner sslContext;
    std::string certificatePem;
    std::string lastError;

    Settings snapshot() const {
        std::lock_guard lock(settingsMu);
        return settings;
    }

    std::string baseUrl() const {
        return std::string(options.tls ? "https" : "http") +
               "://127.0.0.1:" + std::to_string(boundPort.load());
    }

    // Registers a socket so that stop() can wake whoever blocks on it; false once stopping.
    bool track(int fd) {
        std::lock_guard lock(connMu);
        if (stopping)
            return false;
        liveFds.insert(fd);
        return true;
    }

    void untrackAndClose(int fd, bool reset = false) {
        {
            std::lock_guard lock(connMu);
            liveFds.erase(fd);
        }
        if (reset)
            closeWithReset(fd);
        else
            ::close(fd);
    }

    // Waits ms milliseconds (ms <= 0: until stop or the peer goes away). False when the wait
    // was cut short by stop() or by the peer closing watchFd.
    bool pause(int ms, int watchFd) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!stopping) {
            int slice = 50;
            if (ms > 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count();
                if (left <= 0)
                    return true;
                slice = static_cast<int>(std::min<long long>(left, 50));
            }
            if (watchFd >= 0) {
                pollfd p{watchFd, POLLRDHUP, 0};
                if (::poll(&p, 1, slice) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
                    return false;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(slice));
            }
        }
        return false;
    }

    void record(RecordedRequest req) {
        {
            std::lock_guard lock(recordMu);
            ++recordedCount;
            if (options.keepRequests)
                recorded.push_back(std::move(req));
        }
        recordCv.notify_all();
    }

    std::optional<RawAnswer> takeScript() {
        std::lock_guard lock(scriptMu);
        if (scripts.empty())
            return std::nullopt;
        RawAnswer a = std::move(scripts.front());
        scripts.pop_front();
        return a;
    }

    // ---- lifecycle ----

    bool start();
    void stop();
    void acceptLoop();
    void serveConnection(int fd, int serial);
    void serveDelayed(int fd, int serial);
    void delayLine(int outer, int serviceSide);

    // ---- answering ----

    Outcome answer(WireStream& stream, const RecordedRequest& req, std::string& pending);
    Outcome playScript(WireStream& stream, const RawAnswer& script);
    Outcome tunnel(WireStream& stream, const RecordedRequest& req, std::string& pending,
                   const Settings& cfg);
    Outcome relay(WireStream& stream, const RecordedRequest& req, const std::string& target,
                  bool stallMidBody, int stallMs, Fault mixedChoice = Fault::None);

    void handleIndex(const httplib::Request& req, httplib::Response& res);
    void handleCheckWords(const httplib::Request& req, httplib::Response& res);
    void handleKey(const httplib::Request& req, httplib::Response& res, bool older);
    std::string listAnswer(const std::vector<std::string>& words, int days, int area,
                           const std::string& from, const std::string& to, int droppedDays);
};

// ---------------------------------------------------------------- lifecycle

bool FakeIndexService::Impl::start() {
    std::lock_guard life(lifeMu);
    if (running)
        return true;
    stopping = false;

    // A peer that goes away while TLS writes are pending must not kill the process.
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);

    if (options.tls) {
        sslContext = makeSelfSignedServerContext(certificatePem);
        if (!sslContext) {
            lastError = "cannot create the self-signed TLS certificate";
            return false;
        }
    }

    inner = std::make_unique<httplib::Server>();
    inner->new_task_queue = [] { return new httplib::ThreadPool(16); };
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        handleIndex(req, res);
    };
    inner->Get(std::string(kIndexPath), handler);
    inner->Post(std::string(kIndexPath), handler);
    auto checkWords = [this](const httplib::Request& req, httplib::Response& res) {
        handleCheckWords(req, res);
    };
    inner->Get(std::string(kCheckWordsPath), checkWords);
    inner->Post(std::string(kCheckWordsPath), checkWords);
    for (const bool older : {false, true}) {
        auto key = [this, older](const httplib::Request& req, httplib::Response& res) {
            handleKey(req, res, older);
        };
        const std::string path(older ? kOlderKeyPath : kKeyPath);
        inner->Get(path, key);
        inner->Post(path, key);
    }
    // The library listens with a backlog of 5, which drops connections (and costs the
    // client a one-second SYN retry) when many relays connect at once; widen it.
    int innerFd = -1;
    inner->set_socket_options([&innerFd](int fd) {
        innerFd = fd;
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    innerPort = inner->bind_to_any_port("127.0.0.1");
    if (innerPort > 0 && innerFd >= 0)
        ::listen(innerFd, 512);
    if (innerPort <= 0) {
        lastError = "cannot bind the inner server on 127.0.0.1";
        inner.reset();
        return false;
    }
    innerThread = std::thread([this] { inner->listen_after_bind(); });
    for (int i = 0; i < 3000 && !inner->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    listenFd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(options.port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    const int listening = listenFd.get();
    if (!inner->is_running() || listening < 0 ||
        ::setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(listening, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listening, 512) != 0 ||
        ::getsockname(listening, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        lastError = !inner->is_running()
                        ? std::string("the inner server did not start")
                        : "cannot listen on 127.0.0.1:" + std::to_string(options.port) + ": " +
                              std::strerror(errno);
        listenFd.reset();
        inner->stop();
        innerThread.join();
        inner.reset();
        sslContext.reset();
        return false;
    }
    boundPort = ntohs(addr.sin_port);
    lastError.clear();
    running = true;
    acceptThread = std::thread([this] { acceptLoop(); });
    return true;
}

void FakeIndexService::Impl::stop() {
    std::lock_guard life(lifeMu);
    if (!running)
        return;
    stopping = true;
    acceptThread.join();
    listenFd.reset();

    std::list<Worker> ending;
    {
        std::lock_guard lock(connMu);
        for (int fd : liveFds)
            ::shutdown(fd, SHUT_RDWR);
        ending.swap(workers);
    }
    recordCv.notify_all();
    for (Worker& w : ending)
        w.thread.join();

    inner->stop();
    innerThread.join();
    inner.reset();
    sslContext.reset();
    running = false;
}

void FakeIndexService::Impl::acceptLoop() {
    while (!stopping) {
        {
            std::lock_guard lock(connMu);
            for (auto it = workers.begin(); it != workers.end();) {
                if (*it->done) {
                    it->thread.join();
                    it = workers.erase(it);
                } else {
                    ++it;
                }
            }
        }
        pollfd p{listenFd.get(), POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        setSocketTimeouts(fd, options.idleTimeoutMs);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

        std::lock_guard lock(connMu);
        if (stopping || workers.size() >= kMaxConnections) {
            ::close(fd);
            continue;
        }
        liveFds.insert(fd);
        auto done = std::make_shared<std::atomic<bool>>(false);
        const int serial = ++connectionSerial;
        try {
            workers.push_back(Worker{std::thread([this, fd, serial, done] {
                                         if (options.rttMs > 0)
                                             serveDelayed(fd, serial);
                                         else
                                             serveConnection(fd, serial);
                                         *done = true;
                                     }),
                                     done});
        } catch (const std::system_error&) { // no thread to be had: refuse this one
            liveFds.erase(fd);
            ::close(fd);
        }
    }
}

// Serves the connection through a delay line: the service's side talks over a socket pair
// whose far end the line relays to and from the client, holding every chunk.
void FakeIndexService::Impl::serveDelayed(int fd, int serial) {
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        untrackAndClose(fd);
        return;
    }
    if (!track(pair[0]) || !track(pair[1])) {
        untrackAndClose(pair[0]);
        untrackAndClose(pair[1]);
        untrackAndClose(fd);
        return;
    }
    setSocketTimeouts(pair[1], options.idleTimeoutMs);
    std::thread line;
    try {
        line = std::thread([this, fd, pair] {
            delayLine(fd, pair[0]);
            untrackAndClose(pair[0]);
            untrackAndClose(fd);
        });
    } catch (const std::system_error&) {
        untrackAndClose(pair[0]);
        untrackAndClose(pair[1]);
        untrackAndClose(fd);
        return;
    }
    serveConnection(pair[1], serial);
    line.join();
}

// Relays between the client (outer) and the service's side (serviceSide), delivering each chunk
// rttMs / 2 after it arrived, and nothing before a whole round trip has passed since the
// connection was accepted (the client's connection set-up). An end of stream is delayed
// like data. A reset by the service reaches the client as an orderly close. Ends once the
// service's side has ended and that end was delivered, or on stop.
void FakeIndexService::Impl::delayLine(int outer, int serviceSide) {
    using Clock = std::chrono::steady_clock;
    struct Piece {
        Clock::time_point due;
        std::string bytes;
        bool end = false;
    };
    const auto half = std::chrono::milliseconds(options.rttMs / 2);
    const auto setUpDone = Clock::now() + std::chrono::milliseconds(options.rttMs);
    std::deque<Piece> queue[2]; // 0: client to service, 1: service to client
    std::size_t queued[2] = {0, 0};
    const int from[2] = {outer, serviceSide};
    const int to[2] = {serviceSide, outer};
    bool reading[2] = {true, true};
    std::vector<char> buffer(65536);
    for (;;) {
        if (stopping)
            return;
        auto now = Clock::now();
        long long waitMs = 50;
        for (const auto& q : queue) {
            if (!q.empty()) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(q.front().due - now).count();
                waitMs = std::clamp<long long>(left, 0, waitMs);
            }
        }
        pollfd p[2];
        for (int d = 0; d < 2; ++d) {
            const bool wanted = reading[d] && queued[d] < kMaxDelayedBytes;
            p[d] = pollfd{wanted ? from[d] : -1, POLLIN, 0};
        }
        ::poll(p, 2, static_cast<int>(waitMs));
        now = Clock::now();
        for (int d = 0; d < 2; ++d) {
            if (p[d].fd < 0 || !(p[d].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::recv(from[d], buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                continue;
            const auto due = std::max(now, setUpDone) + half;
            if (n > 0) {
                queue[d].push_back(
                    Piece{due, std::string(buffer.data(), static_cast<std::size_t>(n))});
                queued[d] += static_cast<std::size_t>(n);
            } else {
                reading[d] = false;
                queue[d].push_back(Piece{due, {}, true});
            }
        }
        for (int d = 0; d < 2; ++d) {
            while (!queue[d].empty() && queue[d].front().due <= now) {
                Piece piece = std::move(queue[d].front());
                queue[d].pop_front();
                if (piece.end) {
                    ::shutdown(to[d], SHUT_WR);
                    if (d == 1)
                        return;
                } else if (!sendAll(to[d], piece.bytes)) {
                    return;
                } else {
                    queued[d] -= piece.bytes.size();
                }
            }
        }
    }
}

void FakeIndexService::Impl::serveConnection(int fd, int serial) {
    SslOwner ssl;
    if (sslContext) {
        ssl.reset(SSL_new(sslContext.get()));
        if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_accept(ssl.get()) != 1) {
            ssl.reset();
            untrackAndClose(fd);
            return;
        }
    }
    WireStream stream(fd, ssl.get());
    std::string pending;
    Outcome outcome = Outcome::Close;
    while (!stopping) {
        RecordedRequest req;
        const ReadStatus status = readRequest(
            stream, pending, req, [&stream] { stream.writeAll("HTTP/1.1 100 Continue\r\n\r\n"); });
        if (status == ReadStatus::Closed) {
            outcome = Outcome::Close;
            break;
        }
        if (status != ReadStatus::Ok) {
            if (!stopping) {
                const bool headTooLarge = status == ReadStatus::TooLarge && req.requestLine.empty();
                stream.writeAll(plainAnswer(status == ReadStatus::Malformed ? 400
                                            : headTooLarge                  ? 431
                                                                            : 413,
                                            {}, true));
            }
            outcome = Outcome::Close;
            break;
        }
        req.connection = serial;
        req.tls = ssl != nullptr;
        req.tlsResumed = ssl != nullptr && SSL_session_reused(ssl.get()) == 1;
        const bool closeAfter = clientWantsClose(req);
        record(req);
        outcome = answer(stream, req, pending);
        if (outcome != Outcome::KeepOpen)
            break;
        if (closeAfter) {
            outcome = Outcome::Close;
            break;
        }
    }
    if (ssl && outcome != Outcome::Reset && !stopping)
        SSL_shutdown(ssl.get());
    ssl.reset(); // before the descriptor it uses is closed
    untrackAndClose(fd, outcome == Outcome::Reset);
}

// ---------------------------------------------------------------- answering

Outcome FakeIndexService::Impl::answer(WireStream& stream, const RecordedRequest& req,
                                       std::string& pending) {
    // Counted until the answer starts: a client cannot send its next request before that,
    // so the count never includes a request of the same client twice.
    struct Counted {
        explicit Counted(Impl& owner) : impl(owner) {
            const int now = ++impl.answering;
            int most = impl.mostAnswering.load();
            while (now > most && !impl.mostAnswering.compare_exchange_weak(most, now)) {
            }
        }
        ~Counted() { release(); }
        void release() {
            if (counting)
                --impl.answering;
            counting = false;
        }
        Impl& impl;
        bool counting = true;
    };
    Counted counted(*this);

    if (auto script = takeScript())
        return playScript(stream, *script);

    const Settings cfg = snapshot();
    const bool isConnect = req.method == "CONNECT";
    const bool absolute = isAbsoluteForm(req.target);

    if ((isConnect || absolute) && !cfg.proxyUser.empty() &&
        !basicMatches(headerValue(req.headerLines, "Proxy-Authorization"), cfg.proxyUser,
                      cfg.proxyPassword)) {
        return stream.writeAll(plainAnswer(407, "Proxy-Authenticate: Basic realm=\"fake\"\r\n"))
                   ? Outcome::KeepOpen
                   : Outcome::Close;
    }
    if (isConnect)
        return tunnel(stream, req, pending, cfg);

    const std::string target = absolute ? originForm(req.target) : req.target;
    if (!cfg.serverUser.empty() && !basicMatches(headerValue(req.headerLines, "Authorization"),
                                                 cfg.serverUser, cfg.serverPassword)) {
        return stream.writeAll(plainAnswer(401, "WWW-Authenticate: Basic realm=\"fake\"\r\n"))
                   ? Outcome::KeepOpen
                   : Outcome::Close;
    }
    if (cfg.latencyMs > 0 && !pause(cfg.latencyMs, stream.fd()))
        return Outcome::Close;
    counted.release();

    if (pathOf(target) == kIndexPath) {
        const bool mixed = cfg.fault.fault == Fault::Mixed;
        const Fault fault = mixed ? mixedFaultFor(wordOf(target)) : cfg.fault.fault;
        switch (fault) {
        case Fault::StallBeforeHeaders:
            pause(cfg.fault.stallMs, stream.fd());
            return Outcome::Close;
        case Fault::ResetConnection:
            return Outcome::Reset;
        case Fault::StallMidBody:
            return relay(stream, req, target, true, cfg.fault.stallMs, fault);
        default:
            return relay(stream, req, target, false, 0, mixed ? fault : Fault::None);
        }
    }
    return relay(stream, req, target, false, 0);
}

Outcome FakeIndexService::Impl::playScript(WireStream& stream, const RawAnswer& script) {
    for (const RawChunk& chunk : script.chunks) {
        if (chunk.delayMs > 0 && !pause(chunk.delayMs, stream.fd()))
            return Outcome::Close;
        if (!chunk.bytes.empty() && !stream.writeAll(chunk.bytes))
            return Outcome::Close;
    }
    switch (script.end) {
    case RawEnd::Reset:
        return Outcome::Reset;
    case RawEnd::KeepOpen:
        return Outcome::KeepOpen;
    case RawEnd::Close:
        break;
    }
    return Outcome::Close;
}

Outcome FakeIndexService::Impl::tunnel(WireStream& stream, const RecordedRequest& req,
                                       std::string& pending, const Settings& cfg) {
    if (sslContext)
        return stream.writeAll(plainAnswer(501, {}, true)), Outcome::Close;

    // host:port, the host being a loopback name; nothing else is ever connected to.
    const std::size_t colon = req.target.rfind(':');
    const std::string host = colon == std::string::npos ? "" : req.target.substr(0, colon);
    const std::string portText = colon == std::string::npos ? "" : req.target.substr(colon + 1);
    const bool loopback = host == "127.0.0.1" || equalsIgnoreCase(host, "localhost");
    int port = 0;
    const bool portOk = !portText.empty() && portText.size() <= 5 &&
                        std::all_of(portText.begin(), portText.end(),
                                    [](char c) { return c >= '0' && c <= '9'; }) &&
                        (port = std::stoi(portText)) > 0 && port < 65536;
    if (!cfg.allowConnect || !loopback || !portOk)
        return stream.writeAll(plainAnswer(403)) ? Outcome::KeepOpen : Outcome::Close;

    const int target = connectLoopback(port, options.idleTimeoutMs);
    if (target < 0)
        return stream.writeAll(plainAnswer(502, {}, true)), Outcome::Close;
    if (!track(target)) {
        ::close(target);
        return Outcome::Close;
    }
    WireStream far(target, nullptr);
    bool open = stream.writeAll("HTTP/1.1 200 Connection established\r\n\r\n") &&
                (pending.empty() || far.writeAll(pending));
    pending.clear();
    char buffer[16384];
    while (open && !stopping) {
        pollfd p[2] = {{stream.fd(), POLLIN, 0}, {target, POLLIN, 0}};
        if (::poll(p, 2, 50) <= 0)
            continue;
        for (int i = 0; i < 2 && open; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            WireStream& from = i == 0 ? stream : far;
            WireStream& to = i == 0 ? far : stream;
            const long n = from.readSome(buffer, sizeof buffer);
            open = n > 0 && to.writeAll(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
    }
    untrackAndClose(target);
    return Outcome::Close;
}

Outcome FakeIndexService::Impl::relay(WireStream& stream, const RecordedRequest& req,
                                      const std::string& target, bool stallMidBody, int stallMs,
                                      Fault mixedChoice) {
    const int fd = connectLoopback(innerPort, options.idleTimeoutMs);
    if (fd < 0)
        return stream.writeAll(plainAnswer(502, {}, true)), Outcome::Close;
    if (!track(fd)) {
        ::close(fd);
        return Outcome::Close;
    }
    WireStream innerStream(fd, nullptr);

    // The inner server sees a plain origin-form request with a known length, one per
    // connection; the client's own framing and connection handling stay out here.
    std::string forward = req.method + " " + target + " HTTP/1.1\r\n";
    for (const std::string& line : req.headerLines) {
        const std::string name = headerName(line);
        if (line.find(':') == std::string::npos || name.empty() || name.front() == ' ' ||
            name.front() == '\t')
            continue;
        static const char* const dropped[] = {
            "Connection",        "Keep-Alive", "Proxy-Connection",   "Content-Length",
            "Transfer-Encoding", "Expect",     "Proxy-Authorization"};
        if (std::any_of(std::begin(dropped), std::end(dropped),
                        [&](const char* d) { return equalsIgnoreCase(name, d); }))
            continue;
        forward += line + "\r\n";
    }
    forward += std::string(kTargetHeader) + ": " + hexEncode(target) + "\r\n";
    if (mixedChoice != Fault::None)
        forward += std::string(kFaultHeader) + ": " +
                   std::to_string(static_cast<int>(mixedChoice)) + "\r\n";
    forward +=
        "Content-Length: " + std::to_string(req.body.size()) + "\r\nConnection: close\r\n\r\n";
    forward += req.body;

    std::string answerBytes;
    std::size_t headEnd = std::string::npos;
    char buffer[65536];
    bool ok = innerStream.writeAll(forward);
    while (ok && headEnd == std::string::npos) {
        const long n = innerStream.readSome(buffer, sizeof buffer);
        ok = n > 0 && answerBytes.size() < kMaxHeadBytes;
        if (ok) {
            answerBytes.append(buffer, static_cast<std::size_t>(n));
            headEnd = answerBytes.find("\r\n\r\n");
        }
    }
    if (!ok) {
        untrackAndClose(fd);
        return stream.writeAll(plainAnswer(502, {}, true)), Outcome::Close;
    }

    // Rebuild the head without the inner connection's own Connection lines.
    std::vector<std::string> lines;
    std::string head;
    {
        std::size_t pos = 0;
        while (pos < headEnd) {
            std::size_t e = answerBytes.find("\r\n", pos);
            if (e == std::string::npos || e > headEnd)
                e = headEnd;
            lines.push_back(answerBytes.substr(pos, e - pos));
            pos = e + 2;
        }
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string name = i == 0 ? "" : headerName(lines[i]);
        if (i > 0 && (equalsIgnoreCase(name, "Connection") || equalsIgnoreCase(name, "Keep-Alive")))
            continue;
        head += lines[i] + "\r\n";
    }
    head += "\r\n";
    std::string body = answerBytes.substr(headEnd + 4);

    const std::vector<std::string> headerLines(lines.begin() + 1, lines.end());
    const auto length = headerValue(headerLines, "Content-Length");
    const auto transfer = headerValue(headerLines, "Transfer-Encoding");
    const int status = lines[0].size() >= 12 ? std::atoi(lines[0].c_str() + 9) : 0;
    const bool bodiless =
        req.method == "HEAD" || status / 100 == 1 || status == 204 || status == 304;
    const bool delimitedByClose = !length && !bodiless && !transfer;

    if (stallMidBody) {
        const std::size_t total = length ? std::strtoull(length->c_str(), nullptr, 10) : 0;
        const std::size_t half = total / 2;
        while (body.size() < half) {
            const long n = innerStream.readSome(buffer, sizeof buffer);
            if (n <= 0)
                break;
            body.append(buffer, static_cast<std::size_t>(n));
        }
        untrackAndClose(fd);
        if (stream.writeAll(head + body.substr(0, half)))
            pause(stallMs, stream.fd());
        return Outcome::Close;
    }

    bool sent = stream.writeAll(head + body);
    while (sent) {
        const long n = innerStream.readSome(buffer, sizeof buffer);
        if (n <= 0)
            break;
        sent = stream.writeAll(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    untrackAndClose(fd);
    return sent && !delimitedByClose ? Outcome::KeepOpen : Outcome::Close;
}

// ---------------------------------------------------------------- the index route

namespace {

int parseDays(const std::string& text) {
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return std::stoi(text);
}

bool cookieAccepted(const httplib::Request& req, const std::string& accepted) {
    if (accepted.empty())
        return true;
    auto [first, last] = req.headers.equal_range("Cookie");
    return std::any_of(first, last,
                       [&](const auto& h) { return h.second.find(accepted) != std::string::npos; });
}

// The same target with its hop counter set to hop.
std::string withHop(const std::string& target, int hop) {
    const std::size_t q = target.find('?');
    std::string path = target.substr(0, q);
    std::string query = q == std::string::npos ? "" : target.substr(q + 1);
    std::string kept;
    std::size_t pos = 0;
    while (pos <= query.size() && !query.empty()) {
        std::size_t amp = query.find('&', pos);
        if (amp == std::string::npos)
            amp = query.size();
        const std::string pair = query.substr(pos, amp - pos);
        if (!pair.starts_with("hop=") && !pair.empty())
            kept += (kept.empty() ? "" : "&") + pair;
        pos = amp + 1;
    }
    return path + "?" + kept + (kept.empty() ? "" : "&") + "hop=" + std::to_string(hop);
}

// Writes a body of exactly total bytes: the status 0 answer with a long padding member;
// chunked (without a Content-Length) when asked.
void setOversized(httplib::Response& res, const std::string& answer, std::size_t total,
                  bool chunked) {
    auto prefix =
        std::make_shared<std::string>(answer.substr(0, answer.size() - 1) + ",\"padding\":\"");
    static const std::string suffix = "\"}";
    total = std::max(total, prefix->size() + suffix.size());
    const std::size_t padding = total - prefix->size() - suffix.size();
    // The bytes [offset, offset + length) of the body, at most 256 KiB of them.
    auto piece = [prefix, padding](std::size_t offset, std::size_t length) {
        std::string out;
        const std::size_t n = std::min<std::size_t>(length, 256 * 1024);
        out.reserve(n);
        const std::size_t end = offset + n;
        const std::size_t padEnd = prefix->size() + padding;
        std::size_t i = offset;
        if (i < prefix->size()) {
            const std::size_t take = std::min(end, prefix->size()) - i;
            out.append(*prefix, i, take);
            i += take;
        }
        if (i < end && i < padEnd) {
            const std::size_t take = std::min(end, padEnd) - i;
            out.append(take, 'x');
            i += take;
        }
        if (i < end)
            out.append(suffix, i - padEnd, end - i);
        return out;
    };
    const char* type = "application/json;charset=utf-8";
    if (!chunked) {
        res.set_content_provider(
            total, type, [piece](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                const std::string bytes = piece(offset, length);
                return sink.write(bytes.data(), bytes.size());
            });
        return;
    }
    res.set_chunked_content_provider(type,
                                     [piece, total](std::size_t offset, httplib::DataSink& sink) {
                                         const std::string bytes = piece(offset, total - offset);
                                         if (!sink.write(bytes.data(), bytes.size()))
                                             return false;
                                         if (offset + bytes.size() >= total)
                                             sink.done();
                                         return true;
                                     });
}

} // namespace

// A date YYYY-MM-DD from 2011-01-01 on (the service has no data before).
std::optional<std::chrono::sys_days> serviceDate(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    const std::chrono::year_month_day ymd{
        std::chrono::year{std::stoi(text.substr(0, 4))},
        std::chrono::month{static_cast<unsigned>(std::stoi(text.substr(5, 2)))},
        std::chrono::day{static_cast<unsigned>(std::stoi(text.substr(8, 2)))}};
    if (!ymd.ok() || ymd < std::chrono::year{2011} / 1 / 1)
        return std::nullopt;
    return std::chrono::sys_days{ymd};
}

std::string dateOf(std::chrono::sys_days day) {
    const std::chrono::year_month_day ymd{day};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return buf;
}

// The keywords of a list-form word; nothing when it is not that form with one to five
// groups of one named keyword each.
std::optional<std::vector<std::string>> listWords(const std::string& word) {
    const nlohmann::json list = nlohmann::json::parse(word, nullptr, false);
    if (list.is_discarded() || !list.is_array() || list.empty() || list.size() > 5)
        return std::nullopt;
    std::vector<std::string> words;
    for (const auto& group : list) {
        if (!group.is_array() || group.size() != 1 || !group[0].is_object())
            return std::nullopt;
        const auto name = group[0].find("name");
        if (name == group[0].end() || !name->is_string() || name->get<std::string>().empty())
            return std::nullopt;
        words.push_back(name->get<std::string>());
    }
    return words;
}

std::string FakeIndexService::Impl::listAnswer(const std::vector<std::string>& words, int days,
                                               int area, const std::string& from,
                                               const std::string& to, int droppedDays) {
    std::string key, uniqid;
    {
        std::lock_guard lock(keysMu);
        const std::uint64_t serial = ++answerSerial;
        key = seriesKey(serial);
        uniqid = "u" + std::to_string(serial) + "x" + std::to_string(fnv1a(key) % 1000000007);
        keys[uniqid] = key;
    }
    return listAnswerJson(words, days, area, from, to, uniqid, key, droppedDays);
}

void FakeIndexService::Impl::handleCheckWords(const httplib::Request& req, httplib::Response& res) {
    const Settings cfg = snapshot();
    const char* json = "application/json;charset=utf-8";
    if (!cookieAccepted(req, cfg.acceptedCookie))
        return res.set_content(errorAnswerJson(10000), json);
    const std::string word = req.get_param_value("word");
    if (word.empty())
        return res.set_content(errorAnswerJson(10002), json);
    std::string result;
    std::size_t pos = 0;
    while (pos <= word.size()) {
        std::size_t comma = word.find(',', pos);
        if (comma == std::string::npos)
            comma = word.size();
        const std::string one = word.substr(pos, comma - pos);
        if (!one.empty() && cfg.unknownKeywords.count(one) > 0)
            result += (result.empty() ? "" : ",") + std::string("{\"name\":") + jsonString(one) +
                      ",\"status\":10003}";
        pos = comma + 1;
    }
    res.set_content("{\"status\":0,\"data\":{\"result\":[" + result + "]},\"message\":0}", json);
}

void FakeIndexService::Impl::handleKey(const httplib::Request& req, httplib::Response& res,
                                       bool older) {
    const Settings cfg = snapshot();
    if (!(older ? cfg.keyOlder : cfg.keyCurrent)) {
        res.status = 404;
        res.set_content("404 Not Found\n", "text/plain");
        return;
    }
    const char* json = "application/json;charset=utf-8";
    if (!cookieAccepted(req, cfg.acceptedCookie))
        return res.set_content(errorAnswerJson(10000), json);
    std::string key;
    {
        std::lock_guard lock(keysMu);
        if (emptyKeys > 0) {
            --emptyKeys;
        } else if (const auto found = keys.find(req.get_param_value("uniqid"));
                   found != keys.end()) {
            key = found->second;
        }
    }
    res.set_content("{\"status\":0,\"data\":" + jsonString(key) + ",\"message\":0}", json);
}

void FakeIndexService::Impl::handleIndex(const httplib::Request& req, httplib::Response& res) {
    const Settings cfg = snapshot();
    const FaultConfig& f = cfg.fault;
    const std::string word = req.get_param_value("word");
    const std::string startDate = req.get_param_value("startDate");
    const std::string endDate = req.get_param_value("endDate");
    int days = parseDays(req.get_param_value("days"));
    const std::string areaText = req.get_param_value("area");
    const int area = areaText.empty() ? 0 : parseDays(areaText);
    const bool areaOk = areaText.empty() || areaText == "0" || area > 0;
    const char* json = "application/json;charset=utf-8";
    // In the Mixed mode the front has chosen the fault (none when it sent no choice).
    Fault fault = f.fault;
    if (fault == Fault::Mixed)
        fault = static_cast<Fault>(
            std::atoi(req.get_header_value(std::string(kFaultHeader).c_str()).c_str()));

    // Dates replace days: both, real, from 2011 on, in order.
    std::string from, to;
    bool datesOk = true;
    if (req.has_param("startDate") || req.has_param("endDate")) {
        const auto start = serviceDate(startDate);
        const auto end = serviceDate(endDate);
        datesOk = start && end && *start <= *end;
        if (datesOk) {
            days = static_cast<int>((*end - *start).count()) + 1;
            from = startDate;
            to = endDate;
        }
    } else if (days > 0) {
        const auto end = std::chrono::sys_days{std::chrono::year{2024} / 6 / 30};
        from = dateOf(end - std::chrono::days{days - 1});
        to = dateOf(end);
    }
    const bool listForm = !word.empty() && word.front() == '[';
    const auto words = listForm ? listWords(word) : std::nullopt;

    switch (fault) {
    case Fault::Redirect: {
        const int hop = parseDays(req.get_param_value("hop"));
        if (hop < f.redirectHops) {
            res.status = 302;
            res.set_header(
                "Location",
                (f.relativeRedirect ? "" : baseUrl()) +
                    withHop(hexDecode(req.get_header_value(std::string(kTargetHeader).c_str())),
                            hop + 1));
            res.set_content("", "text/html");
            return;
        }
        break;
    }
    case Fault::ServerError:
        res.status = f.serverErrorStatus;
        res.set_content("<html><body><h1>" + std::to_string(f.serverErrorStatus) + " " +
                            reasonPhrase(f.serverErrorStatus) + "</h1></body></html>",
                        "text/html");
        return;
    case Fault::MetaCharsetPage:
        res.set_content(f.pageBody.empty() ? metaCharsetPage(f.pageCharset, f.pageText)
                                           : f.pageBody,
                        "text/html");
        return;
    default:
        break;
    }

    if (const std::optional<int> status = accountAnswer(req)) {
        if (*status == 503) {
            res.status = 503;
            return res.set_content("<html><body><h1>503 Service Unavailable</h1></body></html>",
                                   "text/html");
        }
        return res.set_content(errorAnswerJson(*status), json);
    }
    if (!cookieAccepted(req, cfg.acceptedCookie))
        return res.set_content(errorAnswerJson(10000), json);
    if (fault == Fault::RateLimited)
        return res.set_content(errorAnswerJson(10001), json);
    if (!cfg.requiredHeaderName.empty() &&
        req.get_header_value(cfg.requiredHeaderName.c_str()) != cfg.requiredHeaderValue)
        return res.set_content(errorAnswerJson(10018), json);
    if (fault == Fault::UnknownKeyword || word.empty() || days <= 0 || !datesOk || !areaOk ||
        (listForm && !words) || (!listForm && cfg.unknownKeywords.count(word) > 0))
        return res.set_content(errorAnswerJson(10002), json);
    if (listForm) {
        for (const std::string& one : *words)
            if (cfg.unknownKeywords.count(one) > 0)
                return res.set_content(errorAnswerJson(10002), json);
        return res.set_content(listAnswer(*words, days, area, from, to, cfg.droppedDays), json);
    }

    std::string answerText =
        area == 0 ? indexAnswerJson(word, days) : indexAnswerJson(word, days, std::nullopt, area);
    switch (fault) {
    case Fault::MissingSeries:
        answerText = indexAnswerJson(word, days, f.missingSeries);
        break;
    case Fault::MalformedJson: {
        // Doubled brace and a missing closer; the averages' text is still there.
        const std::size_t data = answerText.find("\"data\":{");
        answerText.insert(data + 8, "{");
        answerText.pop_back();
        break;
    }
    case Fault::TruncatedJson: {
        std::size_t cut = f.truncateAt;
        if (cut == 0) {
            cut = answerText.find(",\"pc\":{\"avg\"");
            if (cut == std::string::npos)
                cut = answerText.size() / 2;
        }
        answerText.resize(std::min(cut, answerText.size()));
        break;
    }
    case Fault::OversizedBody:
        return setOversized(res, answerText, f.oversizedBytes, f.oversizedChunked);
    case Fault::SetCookies:
        for (const std::string& c : f.setCookies)
            res.headers.emplace("Set-Cookie", c);
        break;
    default:
        break;
    }
    res.set_content(answerText, json);
}

// ---------------------------------------------------------------- public face

Fault FakeIndexService::mixedFaultFor(std::string_view keyword) {
    // FNV-1a: fixed across runs and platforms.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : keyword)
        hash = (hash ^ c) * 16777619u;
    static constexpr Fault kFaults[] = {
        Fault::StallBeforeHeaders, Fault::StallMidBody,  Fault::ResetConnection,
        Fault::ServerError,        Fault::MalformedJson, Fault::TruncatedJson,
        Fault::MissingSeries,      Fault::RateLimited,   Fault::OversizedBody};
    // One slot in 32 for each fault, the rest answered normally.
    const std::uint32_t slot = (hash >> 8) % 32u;
    return slot < std::size(kFaults) ? kFaults[slot] : Fault::None;
}

FakeIndexService::FakeIndexService() : FakeIndexService(Options{}) {}

FakeIndexService::FakeIndexService(Options options) : impl_(std::make_unique<Impl>()) {
    impl_->options = options;
    impl_->settings.latencyMs = options.latencyMs;
    impl_->settings.acceptedCookie = options.acceptedCookie;
}

FakeIndexService::~FakeIndexService() {
    stop();
}

bool FakeIndexService::start() {
    return impl_->start();
}
void FakeIndexService::stop() {
    impl_->stop();
}
bool FakeIndexService::running() const {
    return impl_->running;
}
int FakeIndexService::port() const {
    return impl_->boundPort;
}
std::string FakeIndexService::baseUrl() const {
    return impl_->baseUrl();
}

std::string FakeIndexService::indexUrl(std::string_view keyword, int days) const {
    return baseUrl() + std::string(kIndexPath) + "?word=" + percentEncodeAll(keyword) +
           "&area=0&days=" + std::to_string(days);
}

std::string FakeIndexService::lastError() const {
    std::lock_guard lock(impl_->lifeMu);
    return impl_->lastError;
}

std::string FakeIndexService::certificatePem() const {
    std::lock_guard lock(impl_->lifeMu);
    return impl_->certificatePem;
}

void FakeIndexService::setLatencyMs(int ms) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.latencyMs = ms;
}

void FakeIndexService::setAcceptedCookie(std::string text) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.acceptedCookie = std::move(text);
}

void FakeIndexService::setFault(Fault fault) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.fault = FaultConfig{};
    impl_->settings.fault.fault = fault;
}

void FakeIndexService::setFault(FaultConfig config) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.fault = std::move(config);
}

FaultConfig FakeIndexService::fault() const {
    std::lock_guard lock(impl_->settingsMu);
    return impl_->settings.fault;
}

void FakeIndexService::setUnknownKeywords(std::set<std::string> keywords) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.unknownKeywords = std::move(keywords);
}

void FakeIndexService::setRequiredHeader(std::string name, std::string value) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.requiredHeaderName = std::move(name);
    impl_->settings.requiredHeaderValue = std::move(value);
}

void FakeIndexService::setKeyAddresses(bool current, bool older) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.keyCurrent = current;
    impl_->settings.keyOlder = older;
}

void FakeIndexService::setEmptyKeyAnswers(int count) {
    std::lock_guard lock(impl_->keysMu);
    impl_->emptyKeys = count;
}

void FakeIndexService::setSeriesDaysDropped(int days) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.droppedDays = days;
}

void FakeIndexService::queueRawAnswer(RawAnswer answer) {
    std::lock_guard lock(impl_->scriptMu);
    impl_->scripts.push_back(std::move(answer));
}

void FakeIndexService::queueRawAnswer(std::string bytes, RawEnd end) {
    queueRawAnswer(RawAnswer{{RawChunk{std::move(bytes), 0}}, end});
}

void FakeIndexService::clearRawAnswers() {
    std::lock_guard lock(impl_->scriptMu);
    impl_->scripts.clear();
}

std::size_t FakeIndexService::pendingRawAnswers() const {
    std::lock_guard lock(impl_->scriptMu);
    return impl_->scripts.size();
}

void FakeIndexService::setServerCredentials(std::string user, std::string password) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.serverUser = std::move(user);
    impl_->settings.serverPassword = std::move(password);
}

void FakeIndexService::setProxyCredentials(std::string user, std::string password) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.proxyUser = std::move(user);
    impl_->settings.proxyPassword = std::move(password);
}

void FakeIndexService::setAllowConnect(bool allow) {
    std::lock_guard lock(impl_->settingsMu);
    impl_->settings.allowConnect = allow;
}

std::vector<RecordedRequest> FakeIndexService::requests() const {
    std::lock_guard lock(impl_->recordMu);
    return impl_->recorded;
}

void FakeIndexService::setAccountRules(AccountRules rules) {
    std::lock_guard lock(impl_->accountMu);
    impl_->accountRules = std::move(rules);
}

int FakeIndexService::blockedAnswers() const {
    return impl_->blocked.load();
}

int FakeIndexService::expiredAnswers() const {
    return impl_->expired.load();
}

int FakeIndexService::transientAnswers() const {
    return impl_->transient.load();
}

int FakeIndexService::mostConcurrentAnswers() const {
    return impl_->mostAnswering.load();
}

void FakeIndexService::resetMostConcurrentAnswers() {
    impl_->mostAnswering = impl_->answering.load();
}

void FakeIndexService::clearRequests() {
    std::lock_guard lock(impl_->recordMu);
    impl_->recorded.clear();
    impl_->recordedCount = 0;
}

bool FakeIndexService::waitForRequests(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->recordMu);
    return impl_->recordCv.wait_for(lock, timeout, [&] {
        return impl_->recordedCount >= n || impl_->stopping;
    }) && impl_->recordedCount >= n;
}

} // namespace corvanta::fake
