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
    const int failures = test::failuresOnThreads(8, 200, [&](int t, int round) {
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

// Trend columns exist only in a table made with them, follow the five, and take an
// outcome's trends (or its mark).
TEST(ResultsTable, TrendColumnsFollowTheFiveWhenAskedFor) {
    ResultsTable plain;
    EXPECT_EQ(plain.listColumnCount(), 5);
    EXPECT_EQ(plain.columnTitle(FirstTrendColumn), "");
    ResultsTable table(true);
    ASSERT_EQ(table.listColumnCount(), 11);
    const char* titles[] = {"总指数同比", "总指数环比", "PC同比", "PC环比", "移动同比", "移动环比"};
    for (int i = 0; i < TrendColumnCount; ++i)
        EXPECT_EQ(table.columnTitle(FirstTrendColumn + i), titles[i]);
    table.appendKeywords({"a", "b"});
    EXPECT_EQ(table.cellText(0, FirstTrendColumn), "") << "nothing before an outcome";
    QueryOutcome ok;
    ok.status = QueryStatus::Ok;
    ok.pc = "1";
    ok.trends = {"-3", "5", "2", "-1", "7", ""};
    table.setOutcome(0, ok);
    plain.appendKeywords({"a"});
    plain.setOutcome(0, ok);
    EXPECT_EQ(plain.cellText(0, FirstTrendColumn), "");
    for (int i = 0; i < TrendColumnCount; ++i)
        EXPECT_EQ(table.cellText(0, FirstTrendColumn + i), ok.trends[static_cast<std::size_t>(i)]);
    table.setOutcome(1, failedOutcome(QueryStatus::NotIndexed, "10002"));
    EXPECT_EQ(table.cellText(1, FirstTrendColumn + 5), "未收录");
    table.setCellText(1, FirstTrendColumn + 5, "x");
    EXPECT_EQ(table.cellText(1, FirstTrendColumn + 5), "x");
    EXPECT_EQ(table.cellText(1, FirstTrendColumn + 6), "");
}

} // namespace
} // namespace corvanta
