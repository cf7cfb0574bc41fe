#pragma once

#include <string>

namespace corvanta {

// The results list as readers see it: rows of text cells. Column 0 is the row's number
// within its import, 1 the keyword, 2 the PC average, 3 the mobile average, 4 the overall.
class ResultsTable {
public:
    virtual ~ResultsTable() = default;

    virtual int rowCount() const = 0;
    virtual int listColumnCount() const = 0;
    // Title of a column by zero-based position; empty for a column that does not exist.
    virtual std::string columnTitle(int column) const = 0;
    // A cell's current text; empty for a cell that does not exist or was never written.
    virtual std::string cellText(int row, int column) const = 0;
};

enum ResultsColumn : int {
    NumberColumn = 0,
    KeywordColumn = 1,
    PcColumn = 2,
    MobileColumn = 3,
    OverallColumn = 4,
    ResultsColumnCount = 5,
};

} // namespace corvanta
