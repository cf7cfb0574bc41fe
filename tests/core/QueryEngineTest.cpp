#include "core/QueryEngine.h"

#include "CoreTestSupport.h"
#include "FakeIndexService.h"
#include "core/ResultsTable.h"

#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace corvanta {
namespace {

using fake::FakeIndexService;
using namespace std::chrono_literals;

QueryEngineOptions engineOptions(std::string base, int timeoutSeconds) {
    QueryEngineOptions options;
    options.base = std::move(base);
    options.timeoutSeconds = timeoutSeconds;
    return options;
}

class QueryEngineTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.start());
        inputs = std::make_shared<test::TestInputs>();
        table = std::make_shared<ResultsTable>();
        engine = std::make_unique<QueryEngine>(table, inputs, engineOptions(service.baseUrl(), 5));
        engine->setListener(&recorder);
    }
    void TearDown() override { engine.reset(); }

    void addKeywords(int count, const std::string& prefix = "kw") {
        std::vector<std::string> keywords;
        for (int i = 0; i < count; ++i)
            keywords.push_back(prefix + std::to_string(i));
        table->appendKeywords(keywords);
    }

    std::string days(const fake::RecordedRequest& request) const {
        return request.requestLine.substr(request.requestLine.find("&days=") + 6);
    }

    FakeIndexService service;
    std::shared_ptr<test::TestInputs> inputs;
    std::shared_ptr<ResultsTable> table;
    std::unique_ptr<QueryEngine> engine;
    test::RunRecorder recorder;
};

TEST_F(QueryEngineTest, EveryRowGetsTheAveragesOfTheChosenPeriod) {
    addKeywords(30);
    table->appendKeywords({"\xE4\xB8\xAD\xE5\x9B\xBD", "a b"});
    int run = 0;
    for (int period : {0, 1, 2}) {
        inputs->set("15", "BDUSS=corvanta-demo", period);
        service.clearRequests();
        EXPECT_EQ(engine->runQuery(), 32);
        ASSERT_TRUE(recorder.waitFinished(++run));
        const int daysAsked = period == 0 ? 7 : period == 1 ? 30 : 365;
        for (int row = 0; row < table->rowCount(); ++row) {
            const auto expected =
                FakeIndexService::expectedAverages(table->cellText(row, KeywordColumn), daysAsked);
            EXPECT_EQ(table->cellText(row, OverallColumn), std::to_string(expected.all));
            EXPECT_EQ(table->cellText(row, PcColumn), std::to_string(expected.pc));
            EXPECT_EQ(table->cellText(row, MobileColumn), std::to_string(expected.wise));
        }
        const auto requests = service.requests();
        ASSERT_EQ(requests.size(), 32u);
        for (const auto& request : requests)
            EXPECT_EQ(days(request), std::to_string(daysAsked) + " HTTP/1.1");
        const RunProgress progress = recorder.last();
        EXPECT_EQ(progress.posted, 32);
        EXPECT_EQ(progress.succeeded(), 32);
        EXPECT_EQ(progress.failed(), 0);
    }
}

TEST_F(QueryEngineTest, NeverMoreRequestsAtOnceThanTheTypedWorkerCount) {
    service.setLatencyMs(150);
    addKeywords(24);
    inputs->set("3", "BDUSS=corvanta-demo", 0);
    engine->runQuery();
    ASSERT_TRUE(recorder.waitFinished());
    EXPECT_LE(service.mostConcurrentAnswers(), 3);
    EXPECT_GE(service.mostConcurrentAnswers(), 2); // the pool did grow
    EXPECT_EQ(engine->maxWorkers(), 3);

    // While the pool runs, another count changes nothing.
    inputs->set("10", "BDUSS=corvanta-demo", 0);
    service.resetMostConcurrentAnswers();
    engine->runQuery();
    ASSERT_TRUE(recorder.waitFinished(2));
    EXPECT_LE(service.mostConcurrentAnswers(), 3);
}

TEST_F(QueryEngineTest, WorkerCountsWithoutAUsableNumberRunOneWorker) {
    for (const char* text : {"abc", "0", "-5"}) {
        QueryEngine engine2(table, inputs, engineOptions(service.baseUrl(), 5));
        inputs->set(text, "BDUSS=corvanta-demo", 0);
        addKeywords(1);
        engine2.runQuery();
        EXPECT_EQ(engine2.maxWorkers(), 1) << text;
    }
    QueryEngine engine3(table, inputs, engineOptions(service.baseUrl(), 5));
    inputs->set("99999999999", "BDUSS=corvanta-demo", 0);
    engine3.runQuery();
    EXPECT_EQ(engine3.maxWorkers(), kMaxWorkerCount);
}

// Every failure ends with its mark in the three value cells and its reason on the row.
TEST_F(QueryEngineTest, FailuresAreMarkedNeverShownAsValues) {
    struct Case {
        const char* name;
        fake::Fault fault;
        std::string cookie;
        QueryStatus status;
        std::string mark;
    };
    const Case cases[] = {
        {"refused cookie", fake::Fault::None, "BDUSS=wrong", QueryStatus::CookieRefused,
         "cookie无效"},
        {"request block", fake::Fault::RateLimited, "BDUSS=corvanta-demo",
         QueryStatus::RequestBlocked, "请求受限"},
        {"server error", fake::Fault::ServerError, "BDUSS=corvanta-demo", QueryStatus::Failed,
         "失败"},
        {"malformed json", fake::Fault::MalformedJson, "BDUSS=corvanta-demo", QueryStatus::Failed,
         "失败"},
        {"truncated json", fake::Fault::TruncatedJson, "BDUSS=corvanta-demo", QueryStatus::Failed,
         "失败"},
        {"reset", fake::Fault::ResetConnection, "BDUSS=corvanta-demo", QueryStatus::Failed, "失败"},
        {"unknown keyword", fake::Fault::UnknownKeyword, "BDUSS=corvanta-demo",
         QueryStatus::NotIndexed, "未收录"},
    };
    addKeywords(1);
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.setFault(c.fault);
        inputs->set("2", c.cookie, 0);
        engine->runQuery();
        ASSERT_TRUE(recorder.waitFinished(++run));
        for (int column : {PcColumn, MobileColumn, OverallColumn})
            EXPECT_EQ(table->cellText(0, column), c.mark);
        const RowState state = table->rowState(0);
        EXPECT_EQ(state.status, c.status);
        EXPECT_FALSE(state.reason.empty());
        EXPECT_EQ(recorder.last().count(c.status), 1);
    }
}

TEST_F(QueryEngineTest, AMissingSeriesOfASuccessfulAnswerIsZero) {
    fake::FaultConfig config;
    config.fault = fake::Fault::MissingSeries;
    config.missingSeries = fake::Series::Pc;
    service.setFault(config);
    addKeywords(1);
    engine->runQuery();
    ASSERT_TRUE(recorder.waitFinished());
    const auto expected = FakeIndexService::expectedAverages("kw0", 7);
    EXPECT_EQ(table->cellText(0, PcColumn), "0");
    EXPECT_EQ(table->cellText(0, OverallColumn), std::to_string(expected.all));
    EXPECT_TRUE(table->rowState(0).status == QueryStatus::Ok);
}

TEST_F(QueryEngineTest, EachTaskSendsTheCookieOfItsOwnMoment) {
    service.setLatencyMs(100);
    service.setAcceptedCookie("");
    addKeywords(12);
    inputs->set("1", "BDUSS=first", 0);
    engine->runQuery();
    ASSERT_TRUE(service.waitForRequests(2, 10s));
    inputs->setCookie("BDUSS=second");
    ASSERT_TRUE(recorder.waitFinished());
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 12u);
    auto cookieOf = [](const fake::RecordedRequest& r) {
        for (const auto& line : r.headerLines)
            if (line.starts_with("Cookie: "))
                return line.substr(8);
        return std::string();
    };
    EXPECT_EQ(cookieOf(requests.front()), "BDUSS=first");
    EXPECT_EQ(cookieOf(requests.back()), "BDUSS=second");
}

TEST_F(QueryEngineTest, AnEmptyListPostsNothingAndTheRunEndsAtOnce) {
    EXPECT_EQ(engine->runQuery(), 0);
    ASSERT_TRUE(recorder.waitFinished(1, 1s));
    EXPECT_EQ(recorder.last().posted, 0);
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(QueryEngineTest, NoSelectedPeriodPostsNoTask) {
    addKeywords(3);
    inputs->set("2", "BDUSS=corvanta-demo", -1);
    EXPECT_EQ(engine->runQuery(), 0);
    EXPECT_EQ(table->cellText(0, PcColumn), "");
}

TEST_F(QueryEngineTest, ShutdownDuringStalledRequestsEndsWithoutWaitingForTimeOuts) {
    fake::FaultConfig config;
    config.fault = fake::Fault::StallBeforeHeaders;
    service.setFault(config);
    QueryEngine slow(table, inputs, engineOptions(service.baseUrl(), 60));
    addKeywords(200);
    inputs->set("15", "BDUSS=corvanta-demo", 0);
    slow.runQuery();
    ASSERT_TRUE(service.waitForRequests(15, 10s));
    const auto start = std::chrono::steady_clock::now();
    slow.shutdown();
    // Hang guard only: the requests would take 60 s to time out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(slow.runQuery(), 0); // a closed engine posts nothing
    service.stop();
}

TEST_F(QueryEngineTest, CancelMarksUnfinishedRowsAndKeepsWhatWasFetched) {
    addKeywords(3);
    inputs->set("5", "BDUSS=corvanta-demo", 0);
    engine->runQuery();
    ASSERT_TRUE(recorder.waitFinished());
    const std::string fetched = table->cellText(0, PcColumn);

    addKeywords(100, "new");
    fake::FaultConfig config;
    config.fault = fake::Fault::StallBeforeHeaders;
    service.setFault(config);
    engine->runQuery();
    ASSERT_TRUE(service.waitForRequests(3 + 5, 10s));
    engine->cancel();
    ASSERT_TRUE(recorder.waitFinished(2, 10s));
    EXPECT_EQ(table->cellText(0, PcColumn), fetched); // a second press is not lost
    for (int row = 3; row < table->rowCount(); ++row)
        EXPECT_EQ(table->cellText(row, PcColumn), "未查询") << row;
    EXPECT_EQ(recorder.last().count(QueryStatus::NotQueried), 103);

    // The engine runs again afterwards.
    service.setFault(fake::Fault::None);
    engine->runQuery();
    ASSERT_TRUE(recorder.waitFinished(3));
    EXPECT_EQ(recorder.last().succeeded(), 103);
}

// Long runs: retries, several cookies, pacing.
class LongRunTest : public QueryEngineTest {
protected:
    std::unique_ptr<QueryEngine> longEngine(QueryEngineOptions options) {
        options.base = service.baseUrl();
        options.timeoutSeconds = 5;
        auto made = std::make_unique<QueryEngine>(table, inputs, std::move(options));
        made->setListener(&recorder);
        return made;
    }
    void expectEveryRowAValue() {
        for (int row = 0; row < table->rowCount(); ++row) {
            const auto expected =
                FakeIndexService::expectedAverages(table->cellText(row, KeywordColumn), 7);
            EXPECT_EQ(table->cellText(row, OverallColumn), std::to_string(expected.all)) << row;
        }
    }
};

TEST_F(LongRunTest, RetriesOvercomeTransientFailures) {
    fake::AccountRules rules;
    rules.transientShare = 0.2;
    rules.transientRepeats = 2;
    service.setAccountRules(rules);
    addKeywords(60);
    QueryEngineOptions options;
    options.retries = 2;
    options.retryWaitMs = 10;
    auto run = longEngine(options);
    run->runQuery();
    ASSERT_TRUE(recorder.waitFinished());
    EXPECT_GT(service.transientAnswers(), 0);
    expectEveryRowAValue();
    EXPECT_EQ(recorder.last().succeeded(), 60);

    // Without retries the same kind of failure stays marked.
    table = std::make_shared<ResultsTable>();
    addKeywords(40, "again");
    test::RunRecorder onceRecorder;
    QueryEngine once(table, inputs, engineOptions(service.baseUrl(), 5));
    once.setListener(&onceRecorder);
    once.runQuery();
    ASSERT_TRUE(onceRecorder.waitFinished());
    EXPECT_GT(onceRecorder.last().count(QueryStatus::Failed), 0);
}

// Records the cookie events.
class CookieEvents : public test::RunRecorder {
public:
    void cookieChanged(const CookieEvent& event) override {
        std::lock_guard lock(mutex);
        events.push_back(event);
    }
    std::mutex mutex;
    std::vector<CookieEvent> events;
};

TEST_F(LongRunTest, ARefusedCookiesRowsGoToTheOthers) {
    service.setAcceptedCookie("");
    fake::AccountRules rules;
    rules.expireAfter["BDUSS=first"] = 3;
    service.setAccountRules(rules);
    addKeywords(40);
    QueryEngineOptions options;
    options.cookies = {"BDUSS=first", "BDUSS=second"};
    auto run = longEngine(options);
    CookieEvents events;
    run->setListener(&events);
    inputs->set("4", "", 0);
    run->runQuery();
    ASSERT_TRUE(events.waitFinished());
    expectEveryRowAValue();
    ASSERT_EQ(events.events.size(), 1u);
    EXPECT_EQ(events.events[0].kind, CookieEvent::Kind::Refused);
    EXPECT_EQ(events.events[0].index, 0);
    EXPECT_EQ(events.events[0].usable, 1);
}

TEST_F(LongRunTest, WithEveryCookieBlockedTheRestIsNotQueried) {
    service.setAcceptedCookie("");
    fake::AccountRules rules;
    rules.requestsPerSecond = 3;
    service.setAccountRules(rules);
    addKeywords(60);
    QueryEngineOptions options;
    options.cookies = {"BDUSS=a", "BDUSS=b"};
    auto run = longEngine(options);
    CookieEvents events;
    run->setListener(&events);
    run->runQuery();
    ASSERT_TRUE(events.waitFinished());
    const RunProgress progress = events.last();
    EXPECT_EQ(progress.done, 60);
    EXPECT_GT(progress.count(QueryStatus::NotQueried), 0);
    EXPECT_EQ(progress.succeeded() + progress.count(QueryStatus::NotQueried) +
                  progress.count(QueryStatus::RequestBlocked),
              60);
    int blocked = 0, noneLeft = 0;
    for (const CookieEvent& e : events.events) {
        blocked += e.kind == CookieEvent::Kind::Blocked;
        noneLeft += e.kind == CookieEvent::Kind::NoneLeft;
    }
    EXPECT_EQ(blocked, 2);
    EXPECT_EQ(noneLeft, 1);
}

TEST_F(LongRunTest, APaceBelowTheServicesLimitGetsNoBlock) {
    service.setAcceptedCookie("");
    fake::AccountRules rules;
    rules.requestsPerSecond = 10;
    service.setAccountRules(rules);
    addKeywords(40);
    QueryEngineOptions options;
    options.cookies = {"BDUSS=a", "BDUSS=b"};
    options.pacing.requestsPerSecond = 8;
    auto run = longEngine(options);
    run->runQuery();
    ASSERT_TRUE(recorder.waitFinished());
    EXPECT_EQ(service.blockedAnswers(), 0);
    expectEveryRowAValue();
}

// Rows grouped per request: a group never mixes periods, each row gets its own keyword's
// values and trends, and one unindexed keyword costs only its own row.
TEST_F(QueryEngineTest, SeveralRowsPerRequestEachGetTheirOwnOutcome) {
    engine.reset();
    table = std::make_shared<ResultsTable>(true);
    RequestShape shape;
    shape.form.wordForm = WordForm::List;
    shape.perRequest = 5;
    engine =
        std::make_unique<QueryEngine>(table, inputs, engineOptions(service.baseUrl(), 5), shape);
    engine->setListener(&recorder);
    service.setUnknownKeywords({"kw7"});
    addKeywords(12);
    inputs->set("3", "BDUSS=corvanta-demo", 1);
    EXPECT_EQ(engine->runQuery(), 12);
    ASSERT_TRUE(recorder.waitFinished(1));
    EXPECT_EQ(recorder.last().done, 12);
    EXPECT_EQ(recorder.last().count(QueryStatus::NotIndexed), 1);
    // Three groups (5, 5, 2); the group holding kw7 asked again one keyword at a time.
    EXPECT_EQ(service.requests().size(), 3u + 5u);
    for (int row = 0; row < 12; ++row) {
        const std::string keyword = table->cellText(row, KeywordColumn);
        if (keyword == "kw7") {
            EXPECT_EQ(table->rowState(row).status, QueryStatus::NotIndexed);
            EXPECT_EQ(table->cellText(row, FirstTrendColumn), "未收录");
            continue;
        }
        const auto expected = FakeIndexService::expectedAverages(keyword, 30);
        EXPECT_EQ(table->cellText(row, OverallColumn), std::to_string(expected.all)) << keyword;
        EXPECT_EQ(table->cellText(row, MobileColumn), std::to_string(expected.wise)) << keyword;
        EXPECT_EQ(table->cellText(row, FirstTrendColumn + 3), std::to_string(expected.pcQoq));
    }

    // A period change during posting starts a new group.
    class SwitchingInputs : public test::TestInputs {
    public:
        int periodIndex() const override { return asked_++ < 3 ? 0 : 2; }

    private:
        mutable std::atomic<int> asked_{0};
    };
    auto switching = std::make_shared<SwitchingInputs>();
    switching->set("3", "BDUSS=corvanta-demo", 0);
    engine =
        std::make_unique<QueryEngine>(table, switching, engineOptions(service.baseUrl(), 5), shape);
    test::RunRecorder second;
    engine->setListener(&second);
    service.clearRequests();
    EXPECT_EQ(engine->runRows({0, 1, 2, 3, 4, 5}), 6);
    ASSERT_TRUE(second.waitFinished(1));
    std::multiset<std::string> daysAsked;
    for (const auto& request : service.requests())
        daysAsked.insert(days(request));
    EXPECT_EQ(daysAsked, (std::multiset<std::string>{"7 HTTP/1.1", "365 HTTP/1.1"}));
}

} // namespace
} // namespace corvanta
