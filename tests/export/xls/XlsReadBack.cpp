#include "XlsReadBack.h"

#include <atomic>
#include <cstdio>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace corvanta::test {

namespace {

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string run(const std::string& command, int& exitCode) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        exitCode = -1;
        return output;
    }
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::string dumpCommand() {
    return shellQuote(XLS_DUMP_PYTHON) + " " + shellQuote(XLS_DUMP_SCRIPT);
}

} // namespace

const XlsReadBack::Cell* XlsReadBack::cell(int sheet, int row, int column) const {
    const auto found = cells.find({sheet, row, column});
    return found == cells.end() ? nullptr : &found->second;
}

XlsReadBack readXls(const std::filesystem::path& path) {
    XlsReadBack result;
    result.output = run(dumpCommand() + " " + shellQuote(path.string()), result.exitCode);
    std::istringstream lines(result.output);
    std::string line;
    int sheet = -1;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string kind;
        in >> kind;
        std::string word;
        if (kind == "sheet") {
            XlsReadBack::Sheet s;
            in >> sheet;
            // The name is JSON between the index and " rows ".
            const auto namePos = line.find(' ', line.find(' ') + 1) + 1;
            const auto rowsPos = line.rfind(" rows ");
            s.name = line.substr(namePos, rowsPos - namePos);
            std::istringstream tail(line.substr(rowsPos));
            tail >> word >> s.rows >> word >> s.columns;
            result.sheets.push_back(s);
        } else if (kind == "defaultrow" && sheet >= 0) {
            std::string mismatch;
            in >> result.sheets[sheet].defaultRowHeight >> word >> mismatch;
            result.sheets[sheet].defaultRowMismatch = mismatch == "1";
        } else if (kind == "col") {
            int column = 0;
            XlsReadBack::Column c;
            in >> column >> word >> c.width >> word >> c.xf;
            result.columns[{sheet, column}] = c;
        } else if (kind == "row") {
            int row = 0;
            int mismatch = 0;
            XlsReadBack::Row r;
            in >> row >> word >> r.height >> word >> mismatch;
            r.mismatch = mismatch != 0;
            result.rows[{sheet, row}] = r;
        } else if (kind == "cell") {
            int row = 0;
            int column = 0;
            XlsReadBack::Cell c;
            in >> row >> column >> c.type >> word >> c.xf;
            std::getline(in >> std::ws, c.value);
            result.cells[{sheet, row, column}] = c;
        } else if (kind == "xf") {
            int index = 0;
            in >> index;
            std::getline(in >> std::ws, result.xfs[index]);
        } else if (kind == "log") {
            result.logs.push_back(line);
        }
    }
    return result;
}

std::string extractWorkbookStream(const std::filesystem::path& file,
                                  const std::filesystem::path& target, int& exitCode) {
    return run(dumpCommand() + " --stream " + shellQuote(file.string()) + " " +
                   shellQuote(target.string()),
               exitCode);
}

std::string jsonQuote(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("corvanta_xls_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace corvanta::test
