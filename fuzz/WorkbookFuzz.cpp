// The workbook writers (.xlsx, and .xls when built with CORVANTA_FUZZ_XLS): cells made of
// fuzzed text are written, then read back with the project's own reader (tests/export/
// dump_workbook.py: openpyxl, xlrd). Text a workbook cannot hold is refused with a reason;
// every other text reads back exactly as given.
#include "FuzzCheck.h"
#include "export/CellText.h"
#include "export/XlsxWorkbook.h"
#include "export/xls/XlsWorkbook.h"

#include <cstdio>
#include <filesystem>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

std::string esc(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::map<std::string, std::string> readBack(const std::string& path) {
    const std::string command = std::string(CORVANTA_FUZZ_PYTHON) + " \"" +
                                CORVANTA_FUZZ_DUMP_SCRIPT + "\" \"" + path + "\" 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    FUZZ_CHECK(pipe != nullptr);
    std::string output;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = pclose(pipe);
    if (status != 0) {
        std::fprintf(stderr, "the reader ended with status %d:\n", status);
        std::fwrite(output.data(), 1, output.size(), stderr);
    }
    FUZZ_CHECK(status == 0);
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(start, end - start);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int rows = in.ConsumeIntegralInRange<int>(1, 3);
    const int columns = in.ConsumeIntegralInRange<int>(1, 3);
    std::vector<std::string> cells;
    for (int i = 0; i < rows * columns; ++i)
        cells.push_back(in.ConsumeRandomLengthString(64));

    corvanta::WorkbookSheet sheet;
    sheet.name = "S";
    sheet.titles = {"t"};
    sheet.rowCount = rows;
    sheet.columnCount = columns;
    sheet.cell = [&](int row, int column) {
        return cells[static_cast<std::size_t>(row * columns + column)];
    };
    bool writable = true;
    for (const std::string& cell : cells)
        writable = writable && corvanta::cellText::problem(cell, true).empty();

    static const std::string path =
        (std::filesystem::temp_directory_path() /
         ("corvanta-fuzz-" + std::to_string(std::random_device()()) + CORVANTA_FUZZ_EXT))
            .string();
    std::string error;
#ifdef CORVANTA_FUZZ_XLS
    const bool written = corvanta::writeXlsWorkbook(path, {sheet}, error);
#else
    const bool written = corvanta::writeXlsxWorkbook(path, {sheet}, error);
#endif
    FUZZ_CHECK(written == writable);
    if (!written) {
        FUZZ_CHECK(error.find("Cell ") != std::string::npos);
        std::filesystem::remove(path);
        return 0;
    }
    const auto values = readBack(path);
    std::filesystem::remove(path);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const std::string& text = cells[static_cast<std::size_t>(row * columns + column)];
            if (text.empty())
                continue;
            const std::string key = "S!" + std::string(1, static_cast<char>('A' + column)) +
                                    std::to_string(row + 2) + ".value";
            const auto found = values.find(key);
            FUZZ_CHECK(found != values.end());
            if (found->second != esc(text))
                std::fprintf(stderr, "%s: wrote [%s], read [%s]\n", key.c_str(), esc(text).c_str(),
                             found->second.c_str());
            FUZZ_CHECK(found->second == esc(text));
        }
    }
    return 0;
}
