#pragma once

// The journal of a batch run: beside OUT, one JSON line per finished row, written as each
// row finishes, so that a run stopped in any way (even killed) can be resumed. It never
// holds a cookie.

#include <fstream>
#include <mutex>
#include <string>

namespace corvanta {
class ResultsTable;
}

namespace corvanta::cli {

// OUT's journal: OUT + ".journal".
std::string journalPath(const std::string& output);

class Journal {
public:
    // Opens the journal, emptied first unless `append`. False with the reason on failure.
    bool open(const std::string& path, bool append, std::string& error);
    // Appends the row's keyword and outcome as it stands in the table, and flushes.
    void write(const ResultsTable& table, int row);
    void close();

private:
    std::mutex mutex_;
    std::ofstream out_;
};

// Restores from a journal the rows that got a value, where the row's keyword is the same as
// when it was written. Returns the number restored (0 for a missing journal).
int restoreFromJournal(const std::string& path, ResultsTable& table);

} // namespace corvanta::cli
