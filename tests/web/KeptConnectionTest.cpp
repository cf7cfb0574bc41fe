// webFetchKeepingConnection (the connection a thread keeps between its exchanges) and the
// body limit every exchange can set.
#include "FakeIndexService.h"
#include "support/OnManyThreads.h"
#include "web/WebFetch.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>

namespace corvanta {
namespace {

using fake::FakeIndexService;
using fake::RawAnswer;
using fake::RawEnd;
using fake::RecordedRequest;

const std::string kCookie = "BDUSS=corvanta-demo";

std::string okAnswer(std::string_view body, std::string_view extraLines = "") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           std::string(extraLines) + "\r\n" + std::string(body);
}

std::vector<std::string> cookieLines(const RecordedRequest& request) {
    std::vector<std::string> lines;
    for (const std::string& line : request.headerLines) {
        if (line.size() >= 7 &&
            (line.compare(0, 7, "Cookie:") == 0 || line.compare(0, 7, "cookie:") == 0))
            lines.push_back(line);
    }
    return lines;
}

// The connection serial of each recorded request, in order.
std::vector<int> connectionsOf(const FakeIndexService& service) {
    std::vector<int> serials;
    for (const RecordedRequest& r : service.requests())
        serials.push_back(r.connection);
    return serials;
}

WebExchange indexExchange(const FakeIndexService& service, const std::string& keyword,
                          const std::string& cookie) {
    WebExchange exchange;
    exchange.url = service.indexUrl(keyword, 7);
    exchange.method = 1;
    exchange.sendCookies = cookie;
    exchange.timeoutSeconds = 5;
    exchange.ignoreCertErrors = true; // the fake's certificate is self-signed
    return exchange;
}

// Runs fn on a thread of its own, so that the connections it keeps end with it and no
// other test's kept connection is involved.
template <typename Fn>
void onOwnThread(Fn fn) {
    std::thread thread(fn);
    thread.join();
}

class KeptConnectionTest : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        FakeIndexService::Options options;
        options.tls = GetParam();
        service = std::make_unique<FakeIndexService>(options);
        ASSERT_TRUE(service->start()) << service->lastError();
    }

    std::unique_ptr<FakeIndexService> service;
};

// The kept variant sends its exchanges on one connection; the plain one opens one each.
TEST_P(KeptConnectionTest, ExchangesOfOneThreadShareOneConnection) {
    onOwnThread([&] {
        for (int i = 0; i < 3; ++i) {
            WebExchange exchange = indexExchange(*service, "k" + std::to_string(i), kCookie);
            EXPECT_EQ(webFetchKeepingConnection(exchange),
                      FakeIndexService::successBody("k" + std::to_string(i), 7));
            EXPECT_EQ(exchange.statusText, "200 OK");
        }
    });
    std::vector<int> kept = connectionsOf(*service);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(std::set<int>(kept.begin(), kept.end()).size(), 1u);

    service->clearRequests();
    onOwnThread([&] {
        for (int i = 0; i < 3; ++i) {
            WebExchange exchange = indexExchange(*service, "k", kCookie);
            EXPECT_EQ(webFetch(exchange), FakeIndexService::successBody("k", 7));
        }
    });
    std::vector<int> fresh = connectionsOf(*service);
    ASSERT_EQ(fresh.size(), 3u);
    EXPECT_EQ(std::set<int>(fresh.begin(), fresh.end()).size(), 3u);
}

// Each request carries exactly its own exchange's Cookie line: neither the cookie sent
// by the exchange before on the same connection nor one that exchange's answer set.
TEST_P(KeptConnectionTest, NoCookieCarriesOverToTheNextExchange) {
    fake::FaultConfig setsCookies;
    setsCookies.fault = fake::Fault::SetCookies;
    service->setFault(setsCookies);
    service->setAcceptedCookie("");
    onOwnThread([&] {
        for (const std::string cookie : {"BDUSS=first", "BDUSS=second", ""}) {
            WebExchange exchange = indexExchange(*service, "k", cookie);
            webFetchKeepingConnection(exchange);
            EXPECT_EQ(exchange.statusText, "200 OK");
        }
    });
    const auto requests = service->requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].connection, requests[2].connection);
    EXPECT_EQ(cookieLines(requests[0]), std::vector<std::string>{"Cookie: BDUSS=first"});
    EXPECT_EQ(cookieLines(requests[1]), std::vector<std::string>{"Cookie: BDUSS=second"});
    EXPECT_EQ(cookieLines(requests[2]), std::vector<std::string>{});
}

// Every thread keeps its own connection; none is used by two threads, and each request
// carries its own thread's cookie.
TEST_P(KeptConnectionTest, ThreadsKeepConnectionsOfTheirOwn) {
    const int failures = test::failuresOnThreads(4, 5, [&](int t, int round) {
        const std::string keyword = "t" + std::to_string(t) + "r" + std::to_string(round);
        WebExchange exchange =
            indexExchange(*service, keyword, kCookie + "; thread=" + std::to_string(t));
        return webFetchKeepingConnection(exchange) == FakeIndexService::successBody(keyword, 7);
    });
    EXPECT_EQ(failures, 0);
    std::map<std::string, std::set<int>> connectionsOfCookie;
    for (const RecordedRequest& r : service->requests()) {
        const std::vector<std::string> cookies = cookieLines(r);
        ASSERT_EQ(cookies.size(), 1u);
        connectionsOfCookie[cookies[0]].insert(r.connection);
    }
    ASSERT_EQ(connectionsOfCookie.size(), 4u);
    std::set<int> all;
    for (const auto& [cookie, serials] : connectionsOfCookie) {
        EXPECT_EQ(serials.size(), 1u) << cookie;
        all.insert(serials.begin(), serials.end());
    }
    EXPECT_EQ(all.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, KeptConnectionTest, testing::Bool(),
                         [](const auto& p) { return p.param ? "https" : "http"; });

// A kept connection that the service closed (or reset) after a complete answer, or that
// the exchange before left in a failed state, is replaced: the next exchange succeeds.
TEST(KeptConnection, ClosedOrFailedConnectionIsReplacedWithoutFailing) {
    FakeIndexService service;
    ASSERT_TRUE(service.start());
    struct Case {
        const char* name;
        RawAnswer first;
        bool firstSucceeds;
    };
    const std::vector<Case> cases = {
        {"closed after the answer", RawAnswer{{{okAnswer("one"), 0}}, RawEnd::Close}, true},
        {"reset after the answer", RawAnswer{{{okAnswer("one"), 0}}, RawEnd::Reset}, true},
        {"closed later", RawAnswer{{{okAnswer("one"), 0}, {"", 300}}, RawEnd::Close}, true},
        {"body cut short",
         RawAnswer{{{"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\none", 0}}, RawEnd::KeepOpen},
         false},
        {"reset before any answer", RawAnswer{{}, RawEnd::Reset}, false},
    };
    for (const Case& c : cases) {
        service.clearRequests();
        onOwnThread([&] {
            WebExchange first = indexExchange(service, "a", kCookie);
            first.url = service.baseUrl() + "/first";
            service.queueRawAnswer(c.first);
            EXPECT_EQ(webFetchKeepingConnection(first), c.firstSucceeds ? "one" : "") << c.name;
            // Give the close time to arrive, as a service closing an idle connection does.
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            for (int i = 0; i < 2; ++i) {
                WebExchange next = indexExchange(service, "b", kCookie);
                EXPECT_EQ(webFetchKeepingConnection(next), FakeIndexService::successBody("b", 7))
                    << c.name;
                EXPECT_EQ(next.statusText, "200 OK") << c.name;
            }
        });
        const std::vector<int> serials = connectionsOf(service);
        ASSERT_EQ(serials.size(), 3u) << c.name;
        EXPECT_NE(serials[0], serials[1]) << c.name;
        EXPECT_EQ(serials[1], serials[2]) << c.name;
    }
}

// A kept connection the service closed is replaced by one that resumes the TLS session of
// the one before: one round trip saved again. A fresh exchange starts a new session.
TEST(KeptConnection, ReplacementResumesTheTlsSession) {
    FakeIndexService::Options options;
    options.tls = true;
    FakeIndexService service(options);
    ASSERT_TRUE(service.start());
    onOwnThread([&] {
        for (int i = 0; i < 2; ++i) {
            // Each answer closes its connection, as a service that keeps none open would.
            service.queueRawAnswer(okAnswer("one", "Connection: close\r\n"));
            WebExchange exchange = indexExchange(service, "a", kCookie);
            exchange.url = service.baseUrl() + "/closing";
            EXPECT_EQ(webFetchKeepingConnection(exchange), "one");
        }
        WebExchange fresh = indexExchange(service, "a", kCookie);
        EXPECT_EQ(webFetch(fresh), FakeIndexService::successBody("a", 7));
    });
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[0].connection, requests[1].connection);
    EXPECT_FALSE(requests[0].tlsResumed);
    EXPECT_TRUE(requests[1].tlsResumed);
    EXPECT_FALSE(requests[2].tlsResumed);
}

// The body limit: a body of exactly the limit is read; one byte more fails with 715,
// whether its length was announced or not, and leaves the outputs alone. The default
// is no limit.
TEST(BodyLimit, LongerBodyFailsWith715AndLeavesOutputsAlone) {
    FakeIndexService service;
    ASSERT_TRUE(service.start());
    const std::string atLimit(1000, 'x');
    const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    struct Case {
        const char* name;
        std::string answer;
        std::size_t limit;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"exactly the limit", okAnswer(atLimit), 1000, true},
        {"one byte over, announced", okAnswer(atLimit + "y"), 1000, false},
        {"over, chunked", chunkedHead + "3e8\r\n" + atLimit + "\r\n1\r\ny\r\n0\r\n\r\n", 1000,
         false},
        {"no limit", okAnswer(std::string(100000, 'z')), 0, true},
    };
    for (const Case& c : cases) {
        for (bool kept : {false, true}) {
            service.queueRawAnswer(c.answer);
            WebExchange exchange;
            exchange.url = service.baseUrl() + "/big";
            exchange.timeoutSeconds = 5;
            exchange.maxBodyBytes = c.limit;
            exchange.responseBytes = "before";
            exchange.responseHeaders = "before";
            const std::string text =
                kept ? webFetchKeepingConnection(exchange) : webFetch(exchange);
            if (c.ok) {
                EXPECT_FALSE(text.empty()) << c.name;
                EXPECT_EQ(exchange.statusText, "200 OK") << c.name;
            } else {
                EXPECT_EQ(text, "") << c.name;
                EXPECT_EQ(exchange.statusText, "715 响应数据过大!") << c.name;
                EXPECT_EQ(exchange.responseBytes, "before") << c.name;
                EXPECT_EQ(exchange.responseHeaders, "before") << c.name;
            }
        }
    }
}

// The program's own requests accept 16 MiB and no more.
TEST(BodyLimit, ProgramRequestsStopAt16MiB) {
    FakeIndexService service;
    ASSERT_TRUE(service.start());
    fake::FaultConfig oversized;
    oversized.fault = fake::Fault::OversizedBody;
    for (const std::size_t size : {kOwnRequestMaxBodyBytes, kOwnRequestMaxBodyBytes + 1}) {
        oversized.oversizedBytes = size;
        service.setFault(oversized);
        const std::string text = webFetch(service.indexUrl("k", 7), 1, kCookie);
        EXPECT_EQ(text.size(), size <= kOwnRequestMaxBodyBytes ? size : 0u) << size;
    }
}

} // namespace
} // namespace corvanta
