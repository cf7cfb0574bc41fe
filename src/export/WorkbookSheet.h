#pragma once

#include <functional>
#include <string>
#include <vector>

namespace corvanta {

// One worksheet as the workbook writers see it: a formatted title row (when titles is not
// empty) followed by rowCount rows whose text cells come from `cell`, read row by row so
// that a writer can stream them without holding the sheet in memory.
struct WorkbookSheet {
    std::string name;
    std::vector<std::string> titles;
    int rowCount = 0;
    int columnCount = 0;
    std::function<std::string(int row, int column)> cell; // zero-based, titles excluded
};

} // namespace corvanta
