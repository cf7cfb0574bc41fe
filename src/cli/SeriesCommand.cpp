#include "cli/SeriesCommand.h"

#include "cli/ConsoleText.h"
#include "cli/JsonLines.h"
#include "core/KeywordImport.h"
#include "core/ResultsTable.h"
#include "export/ListSource.h"
#include "query/DailySeries.h"
#include "util/Platform.h"

#include <array>
#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

namespace corvanta::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct KeywordSeries {
    std::string keyword;
    SeriesOutcome outcome; // NotQueried until fetched
};

// The rows of the written series as the exporters read them.
class SeriesList : public ListSource {
public:
    explicit SeriesList(const std::vector<KeywordSeries>& series) {
        for (const KeywordSeries& one : series) {
            if (!one.outcome.ok())
                continue;
            for (const SeriesDay& day : one.outcome.days)
                rows_.push_back({one.keyword, dateText(day.date), text(day.overall), text(day.pc),
                                 text(day.mobile)});
        }
    }
    int rowCount() const override { return static_cast<int>(rows_.size()); }
    int listColumnCount() const override { return 5; }
    std::string columnTitle(int column) const override {
        static constexpr const char* kTitles[5] = {"关键词", "日期", "总指数", "PC指数",
                                                   "移动指数"};
        return column >= 0 && column < 5 ? kTitles[column] : "";
    }
    std::string cellText(int row, int column) const override {
        if (row < 0 || row >= rowCount() || column < 0 || column >= 5)
            return {};
        return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    }

private:
    static std::string text(const std::optional<long long>& figure) {
        return figure ? std::to_string(*figure) : std::string();
    }
    std::vector<std::array<std::string, 5>> rows_;
};

void writeSeriesRows(const std::vector<KeywordSeries>& series, std::ostream& out) {
    const auto figure = [](const std::optional<long long>& value) {
        return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
    };
    for (const KeywordSeries& one : series) {
        if (!one.outcome.ok())
            continue;
        for (const SeriesDay& day : one.outcome.days) {
            nlohmann::ordered_json object;
            object["keyword"] = one.keyword;
            object["date"] = dateText(day.date);
            object["overall"] = figure(day.overall);
            object["pc"] = figure(day.pc);
            object["mobile"] = figure(day.mobile);
            out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        }
    }
}

// Waits up to `pause`, ending early once `cancel` is set; false when cancelled.
bool pauseUnlessCancelled(std::chrono::milliseconds pause, const std::atomic<bool>& cancel) {
    const auto end = Clock::now() + pause;
    while (Clock::now() < end) {
        if (cancel)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return !cancel;
}

// One keyword's whole range: its windows joined, each asked up to kSeriesAttempts times.
SeriesOutcome fetchKeywordSeries(const QueryRequest& request, std::chrono::sys_days from,
                                 std::chrono::sys_days to, const std::atomic<bool>& cancel) {
    SeriesOutcome whole;
    whole.status = QueryStatus::Ok;
    for (const auto& [start, end] : seriesWindows(from, to)) {
        SeriesOutcome window;
        for (int attempt = 1; attempt <= kSeriesAttempts; ++attempt) {
            if (cancel) {
                window = SeriesOutcome{QueryStatus::NotQueried, "查询已取消", {}};
                break;
            }
            window = fetchSeriesWindow(request, start, end);
            if (window.ok() || window.status != QueryStatus::Failed || attempt == kSeriesAttempts ||
                !pauseUnlessCancelled(std::chrono::milliseconds(500 * attempt), cancel))
                break;
        }
        if (cancel && !window.ok())
            window = SeriesOutcome{QueryStatus::NotQueried, "查询已取消", {}};
        if (!window.ok())
            return window;
        whole.days.insert(whole.days.end(), window.days.begin(), window.days.end());
    }
    return whole;
}

} // namespace

int runSeriesCommand(const SeriesSettings& settings, const ReportOptions& report) {
    platform::installInterruptHandler();
    const auto start = Clock::now();

    ResultsTable table;
    const ImportResult imported = importKeywords(settings.keywords, table);
    if (!imported.ok) {
        std::cerr << "corvanta-cli: " << imported.error << std::endl;
        return ExitBadInput;
    }
    std::vector<KeywordSeries> series;
    for (int row = 0; row < table.rowCount(); ++row) {
        std::string keyword = table.cellText(row, KeywordColumn);
        if (keyword.find_first_not_of(" \t") != std::string::npos)
            series.push_back({std::move(keyword), {QueryStatus::NotQueried, "查询已取消", {}}});
    }
    if (series.empty()) {
        std::cerr << "corvanta-cli: keyword file '" << settings.keywords << "' holds no keywords"
                  << std::endl;
        return ExitBadInput;
    }
    const auto from = *parseDate(settings.from);
    const auto to = *parseDate(settings.to);
    std::cerr << "fetching the daily series of " << series.size() << " keywords (" << settings.from
              << " to " << settings.to << ", " << seriesWindows(from, to).size()
              << " request(s) each) at " << settings.base << std::endl;

    std::atomic<bool> cancel{false};
    std::atomic<int> done{0};
    std::mutex mutex; // guards `series` outcomes while the worker writes them
    std::thread worker([&] {
        QueryRequest request;
        request.base = settings.base;
        request.cookie = settings.cookie;
        request.form = settings.form;
        request.cancel = &cancel;
        bool stop = false;
        for (KeywordSeries& one : series) {
            if (cancel || stop)
                break;
            request.keyword = one.keyword;
            SeriesOutcome outcome = fetchKeywordSeries(request, from, to, cancel);
            // A refused cookie or a blocked account fails every later request too.
            stop = outcome.status == QueryStatus::CookieRefused ||
                   outcome.status == QueryStatus::RequestBlocked;
            {
                std::lock_guard lock(mutex);
                one.outcome = std::move(outcome);
            }
            ++done;
        }
        done = static_cast<int>(series.size()) + 1; // finished
    });
    bool interrupted = false;
    auto lastLine = Clock::now();
    while (done <= static_cast<int>(series.size())) {
        std::this_thread::sleep_for(50ms);
        if (!interrupted && platform::interruptRequested()) {
            interrupted = true;
            cancel = true;
            std::cerr << "interrupted: stopping; keywords not done are left out" << std::endl;
        }
        if (report.progressEvery > 0 &&
            Clock::now() - lastLine >= std::chrono::duration<double>(report.progressEvery)) {
            std::cerr << "progress: " << std::min<int>(done, static_cast<int>(series.size())) << "/"
                      << series.size() << " keywords" << std::endl;
            lastLine = Clock::now();
        }
    }
    worker.join();

    int succeeded = 0;
    std::array<int, kQueryStatusCount> byStatus{};
    for (const KeywordSeries& one : series) {
        ++byStatus[static_cast<std::size_t>(one.outcome.status)];
        if (one.outcome.ok())
            ++succeeded;
        else if (one.outcome.status != QueryStatus::NotQueried)
            std::cerr << "failed: " << one.keyword << ": " << statusMark(one.outcome.status) << " ("
                      << one.outcome.reason << ")" << std::endl;
    }

    ExportResult written;
    if (settings.jsonLines) {
        written = writeJsonLines(settings.output,
                                 [&](std::ostream& out) { writeSeriesRows(series, out); });
    } else {
        const SeriesList list(series);
        written = exportTable(list, settings.output, "关键词|日期|总指数|PC指数|移动指数");
    }
    const int failed = static_cast<int>(series.size()) - succeeded;
    std::string summary = std::string(interrupted ? "stopped: " : "done: ") +
                          std::to_string(series.size()) + " keywords, " +
                          std::to_string(succeeded) + " succeeded, " + std::to_string(failed) +
                          " failed";
    std::string marks;
    for (int s = 1; s < kQueryStatusCount; ++s)
        if (byStatus[static_cast<std::size_t>(s)] > 0)
            marks += (marks.empty() ? "" : ", ") +
                     std::string(statusMark(static_cast<QueryStatus>(s))) + " " +
                     std::to_string(byStatus[static_cast<std::size_t>(s)]);
    if (!marks.empty())
        summary += " (" + marks + ")";
    std::cerr << summary << ", "
              << formatDuration(std::chrono::duration<double>(Clock::now() - start).count())
              << std::endl;
    if (!written.ok) {
        std::cerr << "corvanta-cli: could not write '" << settings.output << "': " << written.error
                  << std::endl;
        return ExitNotWritten;
    }
    if (settings.output != "-")
        std::cerr << "wrote " << settings.output << std::endl;
    if (interrupted)
        return ExitInterrupted;
    return failed > 0 ? ExitSomeFailed : ExitAllSucceeded;
}

} // namespace corvanta::cli
