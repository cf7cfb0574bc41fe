#include "core/ResultsTable.h"

#include "support/OnManyThreads.h"

#include <gtest/gtest.h>
#include <mutex>
#include <set>

namespace corvanta {
namespace {

TEST(ResultsTable, KeepsFiveTitledColumnsAndAppendsNumberedRows) {
    ResultsTable table;
    EXPECT_EQ(table.listColumnCount(), 5);
    EXPECT_EQ(table.columnTitle(0), "序号");
    EXPECT_EQ(table.columnTitle(4), "总指数");
    EXPECT_EQ(table.columnTitle(5), "");

    EXPECT_EQ(table.appendKeywords({"a", "", "b"}), 0);
    EXPECT_EQ(table.appendKeywords({"c"}), 3); // every import numbers its rows from 1
    EXPECT_EQ(table.rowCount(), 4);
    EXPECT_EQ(table.cellText(1, NumberColumn), "2");
    EXPECT_EQ(table.cellText(1, KeywordColumn), "");
    EXPECT_EQ(table.cellText(3, NumberColumn), "1");
    EXPECT_EQ(table.cellText(3, KeywordColumn), "c");
    EXPECT_EQ(table.cellText(0, PcColumn), "");

    // Cells that do not exist read as empty and ignore writes.
    table.setCellText(9, 1, "x");
    table.setCellText(0, 5, "x");
    table.setCellText(-1, 1, "x");
    EXPECT_EQ(table.cellText(9, 1), "");
    EXPECT_EQ(table.cellText(0, -1), "");
    EXPECT_EQ(table.insertRow(), 4);
    EXPECT_EQ(table.cellText(4, NumberColumn), "");
}

TEST(ResultsTable, AnOutcomeWritesTheValueCellsAndTheRowsState) {
    ResultsTable table;
    table.appendKeywords({"k"});
    EXPECT_FALSE(table.rowState(0).queried);

    table.setOutcome(0, failedOutcome(QueryStatus::RequestBlocked, "服务返回 status 10001"));
    EXPECT_EQ(table.cellText(0, PcColumn), "请求受限");
    EXPECT_EQ(table.cellText(0, OverallColumn), "请求受限");
    EXPECT_TRUE(table.rowState(0).queried);
    EXPECT_EQ(table.rowState(0).status, QueryStatus::RequestBlocked);
    EXPECT_EQ(table.rowState(0).reason, "服务返回 status 10001");

    QueryOutcome ok;
    ok.status = QueryStatus::Ok;
    ok.pc = "1";
    ok.mobile = "2";
    ok.overall = "3";
    table.setOutcome(0, ok);
    EXPECT_EQ(table.cellText(0, PcColumn), "1");
    EXPECT_EQ(table.cellText(0, MobileColumn), "2");
    EXPECT_EQ(table.cellText(0, OverallColumn), "3");
    EXPECT_EQ(table.rowState(0).reason, "");
}

// The listener hears of every change and may read the table while it is told.
class ReadingListener : public ResultsTableListener {
public:
    explicit ReadingListener(ResultsTable& table) : table_(table) {}
    void rowsAppended(int first, int count) override {
        std::lock_guard lock(mutex);
        appended += count;
        lastSeenRows = std::max(lastSeenRows, table_.rowCount());
        EXPECT_GE(table_.rowCount(), first + count);
    }
    void rowChanged(int row) override {
        std::lock_guard lock(mutex);
        changed.insert(row);
        (void)table_.cellText(row, PcColumn);
    }
    std::mutex mutex;
    int appended = 0;
    int lastSeenRows = 0;
    std::set<int> changed;

private:
    ResultsTable& table_;
};

TEST(ResultsTable, ManyThreadsAppendAndWriteWhileTheListenerReads) {
    ResultsTable table;
    ReadingListener listener(table);
    table.setListener(&listener);
    const int failures = testing_support::failuresOnThreads(8, 200, [&](int t, int round) {
        const int row = table.appendKeywords({"k" + std::to_string(t), "x"});
        QueryOutcome outcome = failedOutcome(QueryStatus::Failed, "r");
        outcome.pc = std::to_string(round);
        table.setOutcome(row, outcome);
        return table.cellText(row, KeywordColumn) == "k" + std::to_string(t) &&
               table.cellText(row + 1, KeywordColumn) == "x" &&
               table.cellText(row, PcColumn) == std::to_string(round);
    });
    table.setListener(nullptr);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(table.rowCount(), 8 * 200 * 2);
    EXPECT_EQ(listener.appended, 8 * 200 * 2);
    EXPECT_EQ(listener.changed.size(), 8u * 200u);
}

} // namespace
} // namespace corvanta
