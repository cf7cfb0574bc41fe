#pragma once

#include "export/ListSource.h"
#include "query/QueryTask.h"

#include <array>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvanta {

enum ResultsColumn : int {
    NumberColumn = 0, // the row's number within its import, from 1
    KeywordColumn = 1,
    PcColumn = 2,
    MobileColumn = 3,
    OverallColumn = 4,
    ResultsColumnCount = 5,
    // The trend columns of a table made with them (see ResultsTable's constructor): the
    // outcome's trends in their order, overall yoy and qoq, PC yoy and qoq, mobile yoy and qoq.
    FirstTrendColumn = 5,
    TrendColumnCount = 6,
};

// Told what changed in a ResultsTable. Called on the thread that made the change, after
// the table's lock is released; it must return quickly and never wait for another thread.
class ResultsTableListener {
public:
    virtual ~ResultsTableListener() = default;
    virtual void rowsAppended(int first, int count) = 0;
    virtual void rowChanged(int row) = 0;
};

// What the last query of a row ended with.
struct RowState {
    bool queried = false; // false until a query has written the row
    QueryStatus status = QueryStatus::Ok;
    std::string reason; // why it failed; empty when it did not
};

// The program's one store of results: rows of five text cells (number, keyword, PC, mobile,
// overall), and six trend cells after them in a table made with trend columns, that are only
// ever appended, so a row index stays valid for the whole run. Every operation is atomic and
// may be called from any thread.
class ResultsTable : public ListSource {
public:
    // The trend columns cost a row nothing until its outcome is written.
    explicit ResultsTable(bool trendColumns = false);
    bool hasTrendColumns() const { return trendColumns_; }

    int rowCount() const override;
    int listColumnCount() const override;
    std::string columnTitle(int column) const override;
    std::string cellText(int row, int column) const override;

    // Appends a row of empty cells and returns its index.
    int insertRow();
    // Appends one row per keyword, numbered from 1 in column 0; the first new row's index.
    int appendKeywords(const std::vector<std::string>& keywords);
    // Replaces one cell's text; a row or column that does not exist is ignored.
    void setCellText(int row, int column, const std::string& text);

    // Writes a query's outcome into the row's value cells (values, or the failure mark)
    // and keeps its state; a row that does not exist is ignored.
    void setOutcome(int row, const QueryOutcome& outcome);
    RowState rowState(int row) const;

    // The listener, or none; it must stay alive until it is replaced or the table is gone.
    void setListener(ResultsTableListener* listener);

private:
    struct Row {
        std::array<std::string, ResultsColumnCount> cells;
        std::unique_ptr<std::array<std::string, TrendColumnCount>> trends;
        RowState state;
    };

    void notifyAppended(int first, int count);
    void notifyChanged(int row);

    const bool trendColumns_;
    mutable std::mutex mutex_;
    std::deque<Row> rows_; // a deque: appending never moves the rows already held
    std::mutex listenerMutex_;
    ResultsTableListener* listener_ = nullptr;
};

} // namespace corvanta
