#include "FakeIndexService.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace corvanta::fake;
using namespace std::chrono_literals;

namespace {

const std::string kCookie = "BDUSS=corvanta-demo";
const std::string kChina = "\xE4\xB8\xAD\xE5\x9B\xBD";

// A raw loopback connection with a generous receive time-out, so a broken service fails
// the test instead of hanging it.
class RawClient {
public:
    explicit RawClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{20, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { ::close(fd_); }

    bool connected() const { return connected_; }
    bool send(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Reads until the peer closes; lastError is 0 after an orderly close.
    std::string readToEnd() {
        std::string out;
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n > 0) {
                out.append(buf, static_cast<size_t>(n));
                continue;
            }
            lastError = n == 0 ? 0 : errno;
            return out;
        }
    }
    // Reads one answer framed by Content-Length (no chunked answers are expected).
    // Bytes of a later answer that came with it stay for the next call.
    std::string readAnswer() {
        std::string out = std::exchange(leftover_, {});
        char buf[65536];
        for (;;) {
            const auto headEnd = out.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                const auto cl = out.find("Content-Length: ");
                const size_t length =
                    cl != std::string::npos && cl < headEnd ? std::stoul(out.substr(cl + 16)) : 0;
                if (out.size() >= headEnd + 4 + length) {
                    leftover_ = out.substr(headEnd + 4 + length);
                    out.resize(headEnd + 4 + length);
                    return out;
                }
            }
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                return out;
            out.append(buf, static_cast<size_t>(n));
        }
    }
    std::string readExactly(size_t n) {
        std::string out(n, '\0');
        size_t got = 0;
        while (got < n) {
            const ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
            if (r <= 0)
                break;
            got += static_cast<size_t>(r);
        }
        out.resize(got);
        return out;
    }
    int lastError = -1;
    std::string leftover_;

private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string indexTarget(const std::string& encodedWord, int days) {
    return "/api/SearchApi/index?word=" + encodedWord + "&area=0&days=" + std::to_string(days);
}

std::string bodyOf(const std::string& answer) {
    const auto p = answer.find("\r\n\r\n");
    return p == std::string::npos ? "" : answer.substr(p + 4);
}

class FakeServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service.start()); }

    httplib::Result post(const std::string& target, const std::string& cookie = kCookie) {
        httplib::Client client("127.0.0.1", service.port());
        client.set_read_timeout(20, 0);
        httplib::Headers headers;
        if (!cookie.empty())
            headers.emplace("Cookie", cookie);
        return client.Post(target.c_str(), headers, "", "application/x-www-form-urlencoded");
    }

    FakeIndexService service;
};

} // namespace

// ---------------------------------------------------------------- the index answer

TEST_F(FakeServiceTest, AnswersEachKeywordWithItsOwnAverages) {
    struct Case {
        std::string keyword, encoded;
        int days;
        std::string jsonName;
    };
    const Case cases[] = {
        {kChina, "%E4%B8%AD%E5%9B%BD", 7, "\"" + kChina + "\""},
        {"abc", "%61%62%63", 30, "\"abc\""},
        {"a b", "%61%20%62", 365, "\"a b\""},
        {"q\"\\", "%71%22%5C", 7, "\"q\\\"\\\\\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoded);
        auto res = post(indexTarget(c.encoded, c.days));
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(res->get_header_value("Content-Type"), "application/json;charset=utf-8");
        const Averages a = FakeIndexService::expectedAverages(c.keyword, c.days);
        EXPECT_EQ(a.all, a.pc + a.wise);
        EXPECT_EQ(res->body, FakeIndexService::successBody(c.keyword, c.days));
        EXPECT_NE(res->body.find("\"generalRatio\":[{\"word\":[{\"name\":" + c.jsonName +
                                 ",\"wordType\":1}],\"all\":{\"avg\":" + std::to_string(a.all) +
                                 ",\"yoy\":"),
                  std::string::npos);
        EXPECT_NE(res->body.find("\"pc\":{\"avg\":" + std::to_string(a.pc) + ",\"yoy\":"),
                  std::string::npos);
        EXPECT_NE(res->body.find("\"wise\":{\"avg\":" + std::to_string(a.wise) + ",\"yoy\":"),
                  std::string::npos);
        EXPECT_TRUE(res->body.starts_with("{\"status\":0,\"data\":{\"userIndexes\":["));
        EXPECT_TRUE(res->body.ends_with("\"},\"logid\":" +
                                        res->body.substr(res->body.rfind("\"logid\":") + 8)));
        EXPECT_EQ(res->body.find('\n'), std::string::npos);
    }
    // The period takes part in the averages.
    const Averages week = FakeIndexService::expectedAverages("abc", 7);
    const Averages year = FakeIndexService::expectedAverages("abc", 365);
    EXPECT_FALSE(week.all == year.all && week.pc == year.pc);
}

TEST_F(FakeServiceTest, GetIsAnsweredLikePost) {
    httplib::Client client("127.0.0.1", service.port());
    auto res = client.Get(indexTarget("%61", 7).c_str(), {{"Cookie", kCookie}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, FakeIndexService::successBody("a", 7));
}

TEST_F(FakeServiceTest, CookieRuleDecidesBetweenAnswerAndRefusal) {
    const std::string refusal = "{\"status\":10000,\"data\":\"\",\"message\":\"not login\"}";
    struct Case {
        std::string accepted, sent;
        bool accepted_;
    };
    const Case cases[] = {
        {kCookie, "", false},
        {kCookie, "BDUSS=other", false},
        {kCookie, "a=1; " + kCookie + "; b=2", true},
        {"", "", true},
        {"", "anything=1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.accepted + " / " + c.sent);
        service.setAcceptedCookie(c.accepted);
        auto res = post(indexTarget("%61", 7), c.sent);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        if (c.accepted_)
            EXPECT_EQ(res->body, FakeIndexService::successBody("a", 7));
        else
            EXPECT_EQ(res->body, refusal);
    }
}

TEST_F(FakeServiceTest, ErrorStatusesForRateLimitAndUnknownKeywords) {
    const std::string block = "{\"status\":10001,\"data\":\"\",\"message\":\"request block\"}";
    const std::string bad = "{\"status\":10002,\"data\":\"\",\"message\":\"bad request\"}";
    service.setUnknownKeywords({"nope"});
    EXPECT_EQ(post(indexTarget("%6E%6F%70%65", 7))->body, bad);
    EXPECT_EQ(post(indexTarget("%61", 7))->body, FakeIndexService::successBody("a", 7));
    EXPECT_EQ(post("/api/SearchApi/index?word=&area=0&days=7")->body, bad);
    EXPECT_EQ(post("/api/SearchApi/index?word=a&area=0&days=x")->body, bad);

    service.setFault(Fault::UnknownKeyword);
    EXPECT_EQ(post(indexTarget("%61", 7))->body, bad);
    service.setFault(Fault::RateLimited);
    EXPECT_EQ(post(indexTarget("%61", 7))->body, block);
    // A refused cookie is reported before the rate limit.
    EXPECT_EQ(post(indexTarget("%61", 7), "x=1")->body.substr(0, 15), "{\"status\":10000");
}

// ---------------------------------------------------------------- recording

TEST_F(FakeServiceTest, RecordsKeepAliveRequestsByteForByte) {
    const std::string first = "POST " + indexTarget("%61", 7) +
                              " HTTP/1.1\r\n"
                              "host: 127.0.0.1\r\n"
                              "X-Odd-CASE:   spaced value  \r\n"
                              "Cookie: " +
                              kCookie +
                              "\r\n"
                              "Content-Length: 5\r\n"
                              "\r\n" +
                              std::string("he\0lo", 5);
    const std::string second = "POST /other HTTP/1.1\r\n"
                               "Transfer-Encoding: chunked\r\n"
                               "\r\n"
                               "3\r\nabc\r\n2;ext=1\r\nde\r\n0\r\nTrailer: t\r\n\r\n";
    RawClient client(service.port());
    ASSERT_TRUE(client.connected());
    // Both requests in one write: the reader must split them correctly.
    ASSERT_TRUE(client.send(first + second));
    const std::string a1 = client.readAnswer();
    const std::string a2 = client.readAnswer();
    EXPECT_TRUE(a1.starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(bodyOf(a1), FakeIndexService::successBody("a", 7));
    EXPECT_TRUE(a2.starts_with("HTTP/1.1 404 "));

    ASSERT_TRUE(service.waitForRequests(2, 10s));
    const auto recorded = service.requests();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].raw, first);
    EXPECT_EQ(recorded[0].requestLine, "POST " + indexTarget("%61", 7) + " HTTP/1.1");
    EXPECT_EQ(recorded[0].method, "POST");
    EXPECT_EQ(recorded[0].target, indexTarget("%61", 7));
    EXPECT_EQ(recorded[0].headerLines,
              (std::vector<std::string>{"host: 127.0.0.1", "X-Odd-CASE:   spaced value  ",
                                        "Cookie: " + kCookie, "Content-Length: 5"}));
    EXPECT_EQ(recorded[0].body, std::string("he\0lo", 5));
    EXPECT_EQ(recorded[1].raw, second);
    EXPECT_EQ(recorded[1].body, "abcde");
    EXPECT_EQ(recorded[0].connection, recorded[1].connection);
    EXPECT_FALSE(recorded[0].tls);

    service.clearRequests();
    EXPECT_TRUE(service.requests().empty());
    EXPECT_FALSE(service.waitForRequests(1, 20ms));
}

TEST_F(FakeServiceTest, MalformedRequestsGetBadRequestAndAreNotRecorded) {
    RawClient client(service.port());
    ASSERT_TRUE(client.send("POST / HTTP/1.1\r\nContent-Length: 12x\r\n\r\n"));
    EXPECT_TRUE(client.readToEnd().starts_with("HTTP/1.1 400 Bad Request\r\n"));
    EXPECT_TRUE(service.requests().empty());
}

// ---------------------------------------------------------------- scripted answers

TEST_F(FakeServiceTest, ScriptedAnswersAreWrittenExactlyAndInOrder) {
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    const std::string finalAnswer = std::string("HTTP/1.1 200 OK\r\nlocation: /next\r\n"
                                                "Content-Length: 3\r\n\r\na\0b",
                                                58);
    service.queueRawAnswer(
        RawAnswer{{{interim, 0}, {finalAnswer.substr(0, 20), 30}, {finalAnswer.substr(20), 30}},
                  RawEnd::KeepOpen});
    service.queueRawAnswer("HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\nshort",
                           RawEnd::Close);
    service.queueRawAnswer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", RawEnd::Reset);
    EXPECT_EQ(service.pendingRawAnswers(), 3u);

    {
        RawClient client(service.port());
        ASSERT_TRUE(client.send("GET /anything HTTP/1.1\r\n\r\n"));
        std::string got;
        while (got.size() < interim.size() + finalAnswer.size()) {
            const std::string more = client.readAnswer();
            if (more.empty())
                break;
            got += more;
        }
        EXPECT_EQ(got, interim + finalAnswer);
        // KeepOpen: the next request on the same connection gets the next script.
        ASSERT_TRUE(client.send("POST /x HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
        EXPECT_EQ(client.readToEnd(), "HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\nshort");
        EXPECT_EQ(client.lastError, 0);
    }
    {
        RawClient client(service.port());
        ASSERT_TRUE(client.send("GET / HTTP/1.1\r\n\r\n"));
        client.readToEnd();
        EXPECT_EQ(client.lastError, ECONNRESET);
    }
    EXPECT_EQ(service.pendingRawAnswers(), 0u);
    EXPECT_EQ(service.requests().size(), 3u);

    // With the queue empty the service answers normally again.
    EXPECT_EQ(post(indexTarget("%61", 7))->body, FakeIndexService::successBody("a", 7));
}

// ---------------------------------------------------------------- faults

TEST_F(FakeServiceTest, StallsEndWhenTheServiceStops) {
    for (Fault fault : {Fault::StallBeforeHeaders, Fault::StallMidBody}) {
        FakeIndexService stalling;
        ASSERT_TRUE(stalling.start());
        FaultConfig cfg;
        cfg.fault = fault;
        cfg.stallMs = 0; // until stopped
        stalling.setFault(cfg);
        RawClient client(stalling.port());
        ASSERT_TRUE(client.send("POST " + indexTarget("%61", 7) + " HTTP/1.1\r\nCookie: " +
                                kCookie + "\r\nContent-Length: 0\r\n\r\n"));
        ASSERT_TRUE(stalling.waitForRequests(1, 10s));
        std::string got;
        std::thread reader([&] { got = client.readToEnd(); });
        std::this_thread::sleep_for(100ms);
        stalling.stop();
        reader.join();
        EXPECT_EQ(client.lastError, 0) << "the connection ended by time-out, not by stop()";
        if (fault == Fault::StallBeforeHeaders) {
            EXPECT_EQ(got, "");
        } else {
            const std::string full = FakeIndexService::successBody("a", 7);
            EXPECT_TRUE(got.starts_with("HTTP/1.1 200 OK\r\n"));
            EXPECT_NE(got.find("Content-Length: " + std::to_string(full.size())),
                      std::string::npos);
            EXPECT_EQ(bodyOf(got), full.substr(0, full.size() / 2));
        }
    }
}

TEST_F(FakeServiceTest, StopEndsALongLatencyWait) {
    FakeIndexService slow;
    ASSERT_TRUE(slow.start());
    slow.setLatencyMs(600000);
    RawClient client(slow.port());
    ASSERT_TRUE(client.send("GET " + indexTarget("%61", 7) + " HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(slow.waitForRequests(1, 10s));
    std::string got;
    std::thread reader([&] { got = client.readToEnd(); });
    slow.stop();
    reader.join();
    EXPECT_EQ(got, "");
    EXPECT_EQ(client.lastError, 0);
    EXPECT_FALSE(slow.running());
}

TEST_F(FakeServiceTest, ManyClientsAtOnceEachGetTheirOwnAnswer) {
    // More simultaneous keep-alive clients than the inner server has worker threads.
    constexpr int kClients = 24;
    std::vector<std::string> bodies(kClients);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            httplib::Client client("127.0.0.1", service.port());
            client.set_keep_alive(true);
            client.set_read_timeout(20, 0);
            for (int round = 0; round < 3; ++round) {
                auto res = client.Post(indexTarget("%6B" + std::to_string(i), 30).c_str(),
                                       {{"Cookie", kCookie}}, "", "text/plain");
                bodies[i] += res ? res->body : "<failed>";
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < kClients; ++i) {
        const std::string one = FakeIndexService::successBody("k" + std::to_string(i), 30);
        EXPECT_EQ(bodies[i], one + one + one) << i;
    }
    EXPECT_EQ(service.requests().size(), 3u * kClients);
}

TEST_F(FakeServiceTest, TimedStallAnswersNothingThenCloses) {
    FaultConfig cfg;
    cfg.fault = Fault::StallBeforeHeaders;
    cfg.stallMs = 50;
    service.setFault(cfg);
    RawClient client(service.port());
    ASSERT_TRUE(client.send("GET " + indexTarget("%61", 7) + " HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.readToEnd(), "");
    EXPECT_EQ(client.lastError, 0);
}

TEST_F(FakeServiceTest, ResetFaultResetsTheConnection) {
    service.setFault(Fault::ResetConnection);
    RawClient client(service.port());
    ASSERT_TRUE(client.send("POST " + indexTarget("%61", 7) + " HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.readToEnd(), "");
    EXPECT_EQ(client.lastError, ECONNRESET);
    // Other paths are not affected by faults.
    httplib::Client other("127.0.0.1", service.port());
    auto res = other.Get("/elsewhere");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
}

TEST_F(FakeServiceTest, BodyFaultsShapeTheAnswer) {
    const std::string full = FakeIndexService::successBody("a", 7);
    const Averages avg = FakeIndexService::expectedAverages("a", 7);
    const std::string allAvg = "all\":{\"avg\":" + std::to_string(avg.all) + ",\"yoy\":";
    const std::string pcAvg = "pc\":{\"avg\":" + std::to_string(avg.pc) + ",\"yoy\":";
    const std::string wiseAvg = "wise\":{\"avg\":" + std::to_string(avg.wise) + ",\"yoy\":";

    auto ask = [&](FaultConfig cfg) {
        service.setFault(cfg);
        auto res = post(indexTarget("%61", 7));
        EXPECT_TRUE(res);
        return res ? *res : httplib::Response{};
    };
    auto has = [](const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    };

    FaultConfig cfg;
    cfg.fault = Fault::MissingSeries;
    for (Series s : {Series::All, Series::Pc, Series::Wise}) {
        cfg.missingSeries = s;
        const std::string body = ask(cfg).body;
        EXPECT_EQ(has(body, allAvg), s != Series::All);
        EXPECT_EQ(has(body, pcAvg), s != Series::Pc);
        EXPECT_EQ(has(body, wiseAvg), s != Series::Wise);
        EXPECT_TRUE(body.starts_with("{\"status\":0,"));
    }

    cfg = {};
    cfg.fault = Fault::TruncatedJson;
    auto res = ask(cfg);
    EXPECT_EQ(res.get_header_value("Content-Length"), std::to_string(res.body.size()));
    EXPECT_TRUE(full.starts_with(res.body));
    EXPECT_LT(res.body.size(), full.size());
    EXPECT_TRUE(has(res.body, allAvg));
    EXPECT_FALSE(has(res.body, pcAvg));
    cfg.truncateAt = 10;
    EXPECT_EQ(ask(cfg).body, full.substr(0, 10));

    cfg = {};
    cfg.fault = Fault::MalformedJson;
    const std::string malformed = ask(cfg).body;
    EXPECT_NE(malformed, full);
    EXPECT_TRUE(has(malformed, allAvg) && has(malformed, pcAvg) && has(malformed, wiseAvg));
    EXPECT_TRUE(has(malformed, "\"data\":{{"));

    cfg = {};
    cfg.fault = Fault::ServerError;
    cfg.serverErrorStatus = 503;
    EXPECT_EQ(ask(cfg).status, 503);

    for (bool chunked : {false, true}) {
        cfg = {};
        cfg.fault = Fault::OversizedBody;
        cfg.oversizedBytes = 3 * 1024 * 1024 + 7;
        cfg.oversizedChunked = chunked;
        res = ask(cfg);
        EXPECT_EQ(res.body.size(), cfg.oversizedBytes);
        EXPECT_TRUE(res.body.starts_with(full.substr(0, full.size() - 1) + ",\"padding\":\"xxx"));
        EXPECT_TRUE(res.body.ends_with("xx\"}"));
        EXPECT_EQ(res.has_header("Content-Length"), !chunked);
    }

    cfg = {};
    cfg.fault = Fault::SetCookies;
    cfg.setCookies = {"A=1; path=/", "B=2"};
    res = ask(cfg);
    EXPECT_EQ(res.body, full);
    ASSERT_EQ(res.get_header_value_count("Set-Cookie"), 2u);
    EXPECT_EQ(res.get_header_value("Set-Cookie", 0), "A=1; path=/");
    EXPECT_EQ(res.get_header_value("Set-Cookie", 1), "B=2");
}

TEST_F(FakeServiceTest, MetaCharsetPageIsEncodedInItsDeclaredCharset) {
    struct Case {
        std::string charset, text, bytes;
    };
    const Case cases[] = {
        {"gb2312", kChina, "\xD6\xD0\xB9\xFA"},
        {"utf-8", kChina, kChina},
        {"iso-8859-1", "caf\xC3\xA9", "caf\xE9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charset);
        FaultConfig cfg;
        cfg.fault = Fault::MetaCharsetPage;
        cfg.pageCharset = c.charset;
        cfg.pageText = c.text;
        service.setFault(cfg);
        auto res = post(indexTarget("%61", 7));
        ASSERT_TRUE(res);
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/html");
        EXPECT_NE(res->body.find("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
                                 c.charset + "\">"),
                  std::string::npos);
        EXPECT_NE(res->body.find("<body>" + c.bytes + "</body>"), std::string::npos);
    }
}

TEST_F(FakeServiceTest, RedirectsThroughTheGivenNumberOfHops) {
    FaultConfig cfg;
    cfg.fault = Fault::Redirect;
    cfg.redirectHops = 2;
    service.setFault(cfg);

    auto location = [](const std::string& answer) {
        const auto p = answer.find("\r\nLocation: ");
        return p == std::string::npos ? ""
                                      : answer.substr(p + 12, answer.find("\r\n", p + 2) - p - 12);
    };
    // Follow the hops by hand on one keep-alive connection: the Location must keep the
    // original percent-encoding.
    RawClient client(service.port());
    std::string target = indexTarget("%61", 7);
    std::vector<std::string> locations;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(client.send("POST " + target + " HTTP/1.1\r\nCookie: " + kCookie +
                                "\r\nContent-Length: 0\r\n\r\n"));
        const std::string answer = client.readAnswer();
        if (!answer.starts_with("HTTP/1.1 302 Found\r\n")) {
            EXPECT_EQ(bodyOf(answer), FakeIndexService::successBody("a", 7));
            break;
        }
        locations.push_back(location(answer));
        ASSERT_TRUE(locations.back().starts_with(service.baseUrl()));
        target = locations.back().substr(service.baseUrl().size());
    }
    EXPECT_EQ(locations,
              (std::vector<std::string>{service.baseUrl() + indexTarget("%61", 7) + "&hop=1",
                                        service.baseUrl() + indexTarget("%61", 7) + "&hop=2"}));
    EXPECT_EQ(service.requests().size(), 3u);

    cfg.relativeRedirect = true;
    service.setFault(cfg);
    RawClient relative(service.port());
    ASSERT_TRUE(relative.send("GET " + indexTarget("%61", 7) + "&hop=1 HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(location(relative.readAnswer()), indexTarget("%61", 7) + "&hop=2");
}

// ---------------------------------------------------------------- proxy and credentials

TEST_F(FakeServiceTest, AnswersAbsoluteFormLikeAProxy) {
    const std::string target = "http://example.invalid:81" + indexTarget("%61", 30);
    RawClient client(service.port());
    ASSERT_TRUE(client.send("POST " + target + " HTTP/1.1\r\nHost: example.invalid:81\r\nCookie: " +
                            kCookie + "\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_EQ(bodyOf(client.readAnswer()), FakeIndexService::successBody("a", 30));
    ASSERT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(service.requests()[0].target, target);
}

TEST_F(FakeServiceTest, ProxyCredentialsAreChallengedThenAccepted) {
    service.setProxyCredentials("pu", "pp");
    const std::string request =
        "GET http://127.0.0.1" + indexTarget("%61", 7) + " HTTP/1.1\r\nCookie: " + kCookie + "\r\n";
    RawClient client(service.port());
    ASSERT_TRUE(client.send(request + "\r\n"));
    const std::string challenge = client.readAnswer();
    EXPECT_TRUE(challenge.starts_with("HTTP/1.1 407 Proxy Authentication Required\r\n"));
    EXPECT_NE(challenge.find("\r\nProxy-Authenticate: Basic realm=\"fake\"\r\n"),
              std::string::npos);
    ASSERT_TRUE(client.send(request + "Proxy-Authorization: Basic cHU6cHg=\r\n\r\n")); // pu:px
    EXPECT_TRUE(client.readAnswer().starts_with("HTTP/1.1 407 "));
    ASSERT_TRUE(client.send(request + "Proxy-Authorization: Basic cHU6cHA=\r\n\r\n")); // pu:pp
    EXPECT_EQ(bodyOf(client.readAnswer()), FakeIndexService::successBody("a", 7));
    // Origin-form requests are not proxy requests.
    EXPECT_EQ(post(indexTarget("%61", 7))->status, 200);
}

TEST_F(FakeServiceTest, ServerCredentialsAreChallengedThenAccepted) {
    service.setServerCredentials("user", "secret");
    auto res = post(indexTarget("%61", 7));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);
    EXPECT_EQ(res->get_header_value("WWW-Authenticate"), "Basic realm=\"fake\"");

    httplib::Client client("127.0.0.1", service.port());
    client.set_basic_auth("user", "secret");
    res = client.Post(indexTarget("%61", 7).c_str(), {{"Cookie", kCookie}}, "", "text/plain");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, FakeIndexService::successBody("a", 7));
}

TEST_F(FakeServiceTest, ConnectTunnelsToLoopbackTargetsOnly) {
    FakeIndexService target;
    ASSERT_TRUE(target.start());
    {
        RawClient client(service.port());
        ASSERT_TRUE(client.send("CONNECT 127.0.0.1:" + std::to_string(target.port()) +
                                " HTTP/1.1\r\nHost: x\r\n\r\n"));
        const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
        const std::string got = client.readExactly(established.size());
        ASSERT_EQ(got, established);
        ASSERT_TRUE(client.send("GET " + indexTarget("%62", 7) + " HTTP/1.1\r\nCookie: " + kCookie +
                                "\r\n\r\n"));
        EXPECT_EQ(bodyOf(client.readAnswer()), FakeIndexService::successBody("b", 7));
    }
    ASSERT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(service.requests()[0].requestLine,
              "CONNECT 127.0.0.1:" + std::to_string(target.port()) + " HTTP/1.1");
    ASSERT_TRUE(target.waitForRequests(1, 10s));
    EXPECT_EQ(target.requests()[0].target, indexTarget("%62", 7));

    for (const std::string& where : {std::string("example.com:80"), std::string("10.0.0.1:80")}) {
        RawClient client(service.port());
        ASSERT_TRUE(client.send("CONNECT " + where + " HTTP/1.1\r\n\r\n"));
        EXPECT_TRUE(client.readAnswer().starts_with("HTTP/1.1 403 ")) << where;
    }
    service.setAllowConnect(false);
    RawClient refused(service.port());
    ASSERT_TRUE(
        refused.send("CONNECT 127.0.0.1:" + std::to_string(target.port()) + " HTTP/1.1\r\n\r\n"));
    EXPECT_TRUE(refused.readAnswer().starts_with("HTTP/1.1 403 "));
}

// ---------------------------------------------------------------- TLS

TEST(FakeServiceTls, ServesTheAnswerOverHttpsWithATrustableCertificate) {
    FakeIndexService::Options options;
    options.tls = true;
    FakeIndexService service(options);
    ASSERT_TRUE(service.start());
    EXPECT_TRUE(service.baseUrl().starts_with("https://127.0.0.1:"));
    const std::string pem = service.certificatePem();
    ASSERT_TRUE(pem.starts_with("-----BEGIN CERTIFICATE-----"));

    X509_STORE* store = X509_STORE_new();
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    ASSERT_NE(cert, nullptr);
    X509_STORE_add_cert(store, cert);
    X509_free(cert);
    BIO_free(bio);

    for (const std::string host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        httplib::SSLClient client(host, service.port());
        X509_STORE_up_ref(store);
        client.set_ca_cert_store(store);
        client.enable_server_certificate_verification(true);
        auto res = client.Post(indexTarget("%E4%B8%AD%E5%9B%BD", 7).c_str(), {{"Cookie", kCookie}},
                               "", "application/x-www-form-urlencoded");
        ASSERT_TRUE(res) << httplib::to_string(res.error());
        EXPECT_EQ(res->body, FakeIndexService::successBody(kChina, 7));
    }

    // Through a plain service acting as the proxy: CONNECT, then TLS inside the tunnel.
    FakeIndexService proxy;
    ASSERT_TRUE(proxy.start());
    httplib::SSLClient tunnelled("localhost", service.port());
    X509_STORE_up_ref(store);
    tunnelled.set_ca_cert_store(store);
    tunnelled.enable_server_certificate_verification(true);
    tunnelled.set_proxy("127.0.0.1", proxy.port());
    auto res = tunnelled.Get(indexTarget("%61", 7).c_str(), {{"Cookie", kCookie}});
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->body, FakeIndexService::successBody("a", 7));
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].method, "CONNECT");
    X509_STORE_free(store);

    const auto recorded = service.requests();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_TRUE(recorded[0].tls);
    EXPECT_EQ(recorded[0].target, indexTarget("%E4%B8%AD%E5%9B%BD", 7));
}

// ---------------------------------------------------------------- the executable

TEST(FakeIndexExecutable, ServesUntilTerminatedAndRejectsBadOptions) {
    auto run = [](std::vector<std::string> args, pid_t& pid) {
        int out[2];
        EXPECT_EQ(::pipe(out), 0);
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            std::vector<char*> argv{const_cast<char*>(CORVANTA_FAKE_INDEX_EXE)};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(CORVANTA_FAKE_INDEX_EXE, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        return out[0];
    };
    auto exitCode = [](pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };

    pid_t pid = 0;
    const int out = run({"--port", "0", "--accept-cookie", "k=v", "--fault", "rate-limited"}, pid);
    std::string firstLine;
    char c;
    while (::read(out, &c, 1) == 1 && c != '\n')
        firstLine += c;
    ASSERT_TRUE(firstLine.starts_with("http://127.0.0.1:")) << firstLine;
    const int port = std::stoi(firstLine.substr(17));
    httplib::Client client("127.0.0.1", port);
    auto refused = client.Post(indexTarget("%61", 7).c_str(), "", "text/plain");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->body.substr(0, 15), "{\"status\":10000");
    auto limited =
        client.Post(indexTarget("%61", 7).c_str(), {{"Cookie", "k=v"}}, "", "text/plain");
    ASSERT_TRUE(limited);
    EXPECT_EQ(limited->body.substr(0, 15), "{\"status\":10001");
    ::kill(pid, SIGTERM);
    EXPECT_EQ(exitCode(pid), 0);
    ::close(out);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--fault", "nonsense"},
          std::vector<std::string>{"--port", "70000"}, std::vector<std::string>{"--bogus"}}) {
        const int o = run(bad, pid);
        EXPECT_EQ(exitCode(pid), 2) << bad[0];
        ::close(o);
    }
}

// ---------------------------------------------------------------- mixed faults

// Every fault of the Mixed mode goes to a share of the keywords, fixed by the keyword, and
// each keyword's request gets its fault's answer.
TEST_F(FakeServiceTest, MixedModeGivesEachKeywordItsOwnFault) {
    FaultConfig mixed;
    mixed.fault = Fault::Mixed;
    mixed.stallMs = 100;
    mixed.oversizedBytes = 1000;
    service.setFault(mixed);

    std::map<Fault, std::string> keywordOf;
    std::map<Fault, int> count;
    for (int i = 0; i < 2000; ++i) {
        const std::string keyword = "m" + std::to_string(i);
        const Fault fault = FakeIndexService::mixedFaultFor(keyword);
        EXPECT_EQ(fault, FakeIndexService::mixedFaultFor(keyword));
        ++count[fault];
        keywordOf.emplace(fault, keyword);
    }
    ASSERT_EQ(keywordOf.size(), 10u) << "None and each of the nine faults";
    for (const auto& [fault, n] : count) {
        if (fault == Fault::None)
            EXPECT_GT(n, 1000) << "most keywords are answered normally";
        else
            EXPECT_TRUE(n > 20 && n < 150) << static_cast<int>(fault) << ": " << n;
    }

    for (const auto& [fault, keyword] : keywordOf) {
        SCOPED_TRACE(static_cast<int>(fault));
        RawClient client(service.port());
        ASSERT_TRUE(client.send("POST " + indexTarget(keyword, 7) + " HTTP/1.1\r\nCookie: " +
                                kCookie + "\r\nConnection: close\r\n\r\n"));
        const std::string answer = client.readToEnd();
        const std::string body = bodyOf(answer);
        const std::string full = FakeIndexService::successBody(keyword, 7);
        switch (fault) {
        case Fault::None:
            EXPECT_EQ(body, full);
            break;
        case Fault::StallBeforeHeaders:
            EXPECT_EQ(answer, "");
            break;
        case Fault::StallMidBody:
            EXPECT_TRUE(answer.starts_with("HTTP/1.1 200"));
            EXPECT_LT(body.size(), full.size());
            break;
        case Fault::ResetConnection:
            EXPECT_EQ(client.lastError, ECONNRESET);
            break;
        case Fault::ServerError:
            EXPECT_TRUE(answer.starts_with("HTTP/1.1 500")) << answer;
            break;
        case Fault::RateLimited:
            EXPECT_NE(body.find("\"status\":10001"), std::string::npos) << body;
            break;
        case Fault::OversizedBody:
            EXPECT_EQ(body.size(), 1000u);
            break;
        default: // the three broken or partial answers
            EXPECT_TRUE(answer.starts_with("HTTP/1.1 200"));
            EXPECT_NE(body, full);
            EXPECT_FALSE(body.empty());
        }
    }
}

// ---------------------------------------------------------------- round-trip delay

// With a round trip of R, a new connection's first answer comes 2 R after the client
// connects (set-up, then the request's own round trip), and each later answer on the
// connection one R after its request; the bytes are unchanged. Only lower bounds are
// checked: a loaded machine may be slower, never faster.
TEST(FakeServiceRoundTrip, HoldsEveryChunkHalfARoundTripEachWay) {
    FakeIndexService::Options options;
    options.rttMs = 200;
    FakeIndexService service(options);
    ASSERT_TRUE(service.start());
    using Clock = std::chrono::steady_clock;
    const std::string request = "POST " + indexTarget("%61", 7) +
                                " HTTP/1.1\r\nCookie: " + kCookie + "\r\nContent-Length: 0\r\n\r\n";

    const auto connected = Clock::now();
    RawClient client(service.port());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send(request));
    EXPECT_EQ(bodyOf(client.readAnswer()), FakeIndexService::successBody("a", 7));
    EXPECT_GE(Clock::now() - connected, 390ms);

    const auto sent = Clock::now();
    ASSERT_TRUE(client.send(request));
    EXPECT_EQ(bodyOf(client.readAnswer()), FakeIndexService::successBody("a", 7));
    EXPECT_GE(Clock::now() - sent, 190ms);
    EXPECT_EQ(service.requests().size(), 2u);

    // TLS through the delay.
    options.tls = true;
    FakeIndexService secure(options);
    ASSERT_TRUE(secure.start());
    httplib::SSLClient tls("127.0.0.1", secure.port());
    tls.enable_server_certificate_verification(false);
    auto res = tls.Post(indexTarget("%61", 7).c_str(), {{"Cookie", kCookie}}, "",
                        "application/x-www-form-urlencoded");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->body, FakeIndexService::successBody("a", 7));
}
