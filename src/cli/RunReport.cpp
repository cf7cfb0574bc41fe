#include "cli/RunReport.h"

#include "cli/ConsoleText.h"
#include "core/ResultsTable.h"

#include <algorithm>
#include <cstdio>

namespace corvanta::cli {

namespace {

constexpr int kBarWidth = 24;
constexpr int kKeywordWidth = 32; // keywords wider than this are cut in the table

constexpr std::array<QueryStatus, 4> kFailures = {QueryStatus::CookieRefused,
                                                  QueryStatus::RequestBlocked, QueryStatus::Failed,
                                                  QueryStatus::NotQueried};

std::string percent(const RunProgress& p) {
    const int value = p.posted > 0 ? p.done * 100 / p.posted : 100;
    return std::to_string(value) + "%";
}

std::string rate(const RunProgress& p, double elapsed) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f rows/s", elapsed > 0 ? p.done / elapsed : 0.0);
    return buffer;
}

// The time left at the rate so far; "?" before the first row is done.
std::string timeLeft(const RunProgress& p, double elapsed) {
    if (p.done == 0 || elapsed <= 0)
        return "?";
    return formatDuration((p.posted - p.done) * elapsed / p.done);
}

} // namespace

RowCounts countRows(const ResultsTable& table) {
    RowCounts counts;
    counts.rows = table.rowCount();
    for (int row = 0; row < counts.rows; ++row) {
        const RowState state = table.rowState(row);
        const QueryStatus status = state.queried ? state.status : QueryStatus::NotQueried;
        ++counts.byStatus[static_cast<std::size_t>(status)];
    }
    return counts;
}

std::string progressBar(const RunProgress& p, double elapsed) {
    const int filled = p.posted > 0
                           ? static_cast<int>(static_cast<long long>(p.done) * kBarWidth / p.posted)
                           : kBarWidth;
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] ";
    return bar + std::to_string(p.done) + "/" + std::to_string(p.posted) + " " + percent(p) +
           "  failed " + std::to_string(p.failed()) + "  " + rate(p, elapsed) + "  " +
           timeLeft(p, elapsed) + " left";
}

std::string progressLine(const RunProgress& p, double elapsed) {
    return "progress: " + std::to_string(p.done) + "/" + std::to_string(p.posted) + " rows (" +
           percent(p) + "), " + std::to_string(p.failed()) + " failed, " + rate(p, elapsed) + ", " +
           timeLeft(p, elapsed) + " left";
}

std::string summaryLine(const RowCounts& counts, double elapsed, bool interrupted) {
    std::string line = interrupted ? "stopped: " : "done: ";
    line += std::to_string(counts.rows) + " rows, " + std::to_string(counts.succeeded()) +
            " succeeded, " + std::to_string(counts.failed()) + " failed (";
    for (std::size_t i = 0; i < kFailures.size(); ++i) {
        if (i > 0)
            line += ", ";
        line += std::string(statusMark(kFailures[i])) + " " +
                std::to_string(counts.count(kFailures[i]));
    }
    // Only a run that looked for them (list form, --check-words, 10002) finds keywords the
    // service does not index.
    if (const int notIndexed = counts.count(QueryStatus::NotIndexed))
        line += ", " + std::string(statusMark(QueryStatus::NotIndexed)) + " " +
                std::to_string(notIndexed);
    return line + "), " + formatDuration(elapsed);
}

std::string failureAdvice(const RowCounts& counts) {
    std::string advice;
    if (counts.count(QueryStatus::CookieRefused) > 0)
        advice += "cookie无效: the service says the cookie is not logged in; log in again in a "
                  "browser and pass a fresh cookie\n";
    if (counts.count(QueryStatus::RequestBlocked) > 0)
        advice += "请求受限: the account is limited for now; wait a while, then run again with "
                  "fewer --threads\n";
    if (counts.count(QueryStatus::NotQueried) > 0)
        advice += "未查询: these rows were not queried; run again to fill them in\n";
    if (counts.count(QueryStatus::NotIndexed) > 0)
        advice += "未收录: the service does not index these keywords; asking again does not "
                  "help\n";
    return advice;
}

std::string resultsTable(const ResultsTable& table) {
    const int rows = table.rowCount();
    constexpr std::array<int, 5> kColumns = {NumberColumn, KeywordColumn, PcColumn, MobileColumn,
                                             OverallColumn};
    const std::array<std::string, 5> titles = {"#", "关键词", "PC指数", "移动指数", "总指数"};
    std::array<int, 5> widths{};
    for (std::size_t c = 0; c < kColumns.size(); ++c)
        widths[c] = displayWidth(titles[c]);
    for (int row = 0; row < rows; ++row)
        for (std::size_t c = 0; c < kColumns.size(); ++c) {
            const std::string text = table.cellText(row, kColumns[c]);
            widths[c] = std::max(widths[c], std::min(displayWidth(text), kKeywordWidth));
        }

    std::string out;
    auto line = [&](auto cell) {
        std::string text;
        for (std::size_t c = 0; c < kColumns.size(); ++c) {
            const std::string value = fitWidth(cell(c), widths[c]);
            if (c > 0)
                text += "  ";
            text += c == 1 ? padRight(value, widths[c]) : padLeft(value, widths[c]);
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out += text + "\n";
    };
    line([&](std::size_t c) { return titles[c]; });
    for (int row = 0; row < rows; ++row)
        line([&](std::size_t c) { return table.cellText(row, kColumns[c]); });
    return out;
}

} // namespace corvanta::cli
