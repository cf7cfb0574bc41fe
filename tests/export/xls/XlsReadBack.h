#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace corvanta::test {

// What xlrd reads from a workbook, as printed by dump_xls.py.
struct XlsReadBack {
    struct Sheet {
        std::string name; // JSON-quoted
        int rows = 0;
        int columns = 0;
        int defaultRowHeight = -1;
        bool defaultRowMismatch = false;
    };
    struct Cell {
        std::string type; // "text", "number", "empty", ...
        int xf = -1;
        std::string value; // JSON-quoted
    };
    struct Column {
        int width = 0;
        int xf = -1;
    };
    struct Row {
        int height = 0;
        bool mismatch = false;
    };

    int exitCode = -1;
    std::string output;
    std::vector<Sheet> sheets;
    std::map<std::tuple<int, int, int>, Cell> cells; // sheet, row, column
    std::map<std::pair<int, int>, Column> columns;   // sheet, column
    std::map<std::pair<int, int>, Row> rows;         // sheet, row
    std::map<int, std::string> xfs;                  // the xf line after its index
    std::vector<std::string> logs;

    const Cell* cell(int sheet, int row, int column) const;
};

// Runs dump_xls.py on `path` and parses what it prints.
XlsReadBack readXls(const std::filesystem::path& path);

// Copies the Workbook stream of a compound file to `target` through xlrd's reader;
// returns the reader's output ("stream N" and any warnings) and sets `exitCode`.
std::string extractWorkbookStream(const std::filesystem::path& file,
                                  const std::filesystem::path& target, int& exitCode);

// The text as Python's json.dumps(ensure_ascii=False) writes it.
std::string jsonQuote(const std::string& utf8);

// A folder of its own for a test's files, removed at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::filesystem::path file(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace corvanta::test
