#include "cli/Journal.h"

#include "core/ResultsTable.h"

#include <filesystem>
#include <nlohmann/json.hpp>

namespace corvanta::cli {

namespace {

std::filesystem::path pathOf(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

} // namespace

std::string journalPath(const std::string& output) {
    return output + ".journal";
}

bool Journal::open(const std::string& path, bool append, std::string& error) {
    std::lock_guard lock(mutex_);
    out_.open(pathOf(path), std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    if (!out_.is_open()) {
        error = "cannot write the journal '" + path + "'";
        return false;
    }
    return true;
}

void Journal::write(const ResultsTable& table, int row) {
    const RowState state = table.rowState(row);
    nlohmann::json line = {
        {"row", row},
        {"keyword", table.cellText(row, KeywordColumn)},
        {"status", state.status == QueryStatus::Ok ? "ok" : statusMark(state.status)},
        {"pc", table.cellText(row, PcColumn)},
        {"mobile", table.cellText(row, MobileColumn)},
        {"overall", table.cellText(row, OverallColumn)},
        {"reason", state.reason},
    };
    const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::lock_guard lock(mutex_);
    if (out_.is_open())
        out_ << text << '\n' << std::flush;
}

void Journal::close() {
    std::lock_guard lock(mutex_);
    out_.close();
}

int restoreFromJournal(const std::string& path, ResultsTable& table) {
    std::ifstream in(pathOf(path), std::ios::binary);
    int restored = 0;
    for (std::string text; std::getline(in, text);) {
        // A line cut short by a kill is not valid JSON and is passed over.
        const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
        if (line.is_discarded() || !line.is_object() || line.value("status", "") != "ok" ||
            !line.contains("row") || !line["row"].is_number_integer())
            continue;
        const int row = line["row"].get<int>();
        if (row < 0 || row >= table.rowCount() ||
            table.cellText(row, KeywordColumn) != line.value("keyword", ""))
            continue;
        QueryOutcome outcome;
        outcome.status = QueryStatus::Ok;
        outcome.pc = line.value("pc", "");
        outcome.mobile = line.value("mobile", "");
        outcome.overall = line.value("overall", "");
        if (!table.rowState(row).queried)
            ++restored;
        table.setOutcome(row, outcome);
    }
    return restored;
}

} // namespace corvanta::cli
