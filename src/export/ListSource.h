#pragma once

#include <string>

namespace corvanta {

// A list of text cells as the exporters read it: the results table, or a test's own rows.
class ListSource {
public:
    virtual ~ListSource() = default;

    virtual int rowCount() const = 0;
    virtual int listColumnCount() const = 0;
    // Title of a column by zero-based position; empty for a column that does not exist.
    virtual std::string columnTitle(int column) const = 0;
    // A cell's current text; empty for a cell that does not exist or was never written.
    virtual std::string cellText(int row, int column) const = 0;
};

} // namespace corvanta
