// A run of 1,000 keywords in which the fake service gives each of its faults to a share of
// the requests (stalls before the answer and mid-body, resets, 5xx, broken and partial
// JSON, a missing series, request blocks, bodies beyond 16 MiB): every row ends with its
// value or the mark its fault calls for, and the run ends within the time-outs.
#include "CoreTestSupport.h"
#include "FakeIndexService.h"
#include "core/QueryEngine.h"
#include "core/ResultsTable.h"
#include "web/WebFetch.h"

#include <gtest/gtest.h>
#include <map>

namespace corvanta {
namespace {

using fake::FakeIndexService;
using fake::Fault;

const std::string kFailed = "\xE5\xA4\xB1\xE8\xB4\xA5";                          // 失败
const std::string kBlocked = "\xE8\xAF\xB7\xE6\xB1\x82\xE5\x8F\x97\xE9\x99\x90"; // 请求受限

struct Expected {
    std::string pc, mobile, overall;
};

// What the row of a keyword must hold after the run, by the fault it was given.
Expected expectedRow(const std::string& keyword, int days) {
    const auto avg = FakeIndexService::expectedAverages(keyword, days);
    switch (FakeIndexService::mixedFaultFor(keyword)) {
    case Fault::None:
        return {std::to_string(avg.pc), std::to_string(avg.wise), std::to_string(avg.all)};
    case Fault::MissingSeries: // the PC series is missing: "0" stands for it
        return {"0", std::to_string(avg.wise), std::to_string(avg.all)};
    case Fault::RateLimited:
        return {kBlocked, kBlocked, kBlocked};
    default:
        return {kFailed, kFailed, kFailed};
    }
}

TEST(FaultInjection, EveryRowOfAThousandEndsWithItsValueOrItsMark) {
    FakeIndexService::Options options;
    options.keepRequests = false;
    FakeIndexService service(options);
    ASSERT_TRUE(service.start());
    fake::FaultConfig mixed;
    mixed.fault = Fault::Mixed;
    mixed.stallMs = 0;                                           // until the client gives up
    mixed.oversizedBytes = kOwnRequestMaxBodyBytes + (1u << 20); // 17 MiB
    service.setFault(mixed);

    auto inputs = std::make_shared<test::TestInputs>();
    inputs->set("15", "BDUSS=corvanta-demo", 0);
    auto table = std::make_shared<ResultsTable>();
    std::vector<std::string> keywords;
    for (int i = 0; i < 1000; ++i)
        keywords.push_back("fault" + std::to_string(i));
    table->appendKeywords(keywords);
    QueryEngineOptions engineOptions;
    engineOptions.base = service.baseUrl();
    engineOptions.timeoutSeconds = 1;
    QueryEngine engine(table, inputs, engineOptions);
    test::RunRecorder recorder;
    engine.setListener(&recorder);

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(engine.runQuery(), 1000);
    // A hang guard only: about 60 stalls of one second each on 15 workers take a few seconds.
    ASSERT_TRUE(recorder.waitFinished(1, std::chrono::seconds(240)));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::map<Fault, int> wrong;
    for (int row = 0; row < table->rowCount(); ++row) {
        const std::string keyword = table->cellText(row, KeywordColumn);
        const Expected expected = expectedRow(keyword, 7);
        const bool right = table->cellText(row, PcColumn) == expected.pc &&
                           table->cellText(row, MobileColumn) == expected.mobile &&
                           table->cellText(row, OverallColumn) == expected.overall;
        if (!right) {
            ++wrong[FakeIndexService::mixedFaultFor(keyword)];
            ADD_FAILURE() << keyword << " (fault "
                          << static_cast<int>(FakeIndexService::mixedFaultFor(keyword))
                          << "): " << table->cellText(row, PcColumn) << " | "
                          << table->cellText(row, MobileColumn) << " | "
                          << table->cellText(row, OverallColumn);
        }
    }
    EXPECT_TRUE(wrong.empty());
    const RunProgress progress = recorder.last();
    EXPECT_EQ(progress.done, 1000);
    EXPECT_EQ(progress.count(QueryStatus::NotQueried), 0);
    std::printf("1,000 keywords with mixed faults: %.1f s\n", seconds);
}

} // namespace
} // namespace corvanta
