#include "cli/BatchCommands.h"

#include "cli/JsonLines.h"
#include "cli/RunReport.h"
#include "core/CookieTest.h"
#include "core/ExportCommand.h"
#include "core/KeywordImport.h"
#include "core/QueryEngine.h"
#include "core/ResultsTable.h"
#include "query/KeywordGroups.h"
#include "util/Platform.h"

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>

namespace corvanta::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How often the run looks at Ctrl-C and redraws the terminal's progress bar.
constexpr auto kTick = 100ms;

// The inputs of a batch run: fixed for its whole length.
class FixedInputs : public QueryInputs {
public:
    FixedInputs(std::string workers, std::string cookie, int period)
        : workers_(std::move(workers)), cookie_(std::move(cookie)), period_(period) {}
    std::string workerCountText() const override { return workers_; }
    std::string cookieText() const override { return cookie_; }
    int periodIndex() const override { return period_; }

private:
    const std::string workers_;
    const std::string cookie_;
    const int period_;
};

// Wakes the waiting main thread when the run has finished.
class FinishSignal : public QueryEngineListener {
public:
    void rowsPosted(const RunProgress&) override {}
    void rowDone(int, const RunProgress&) override {}
    void runFinished(const RunProgress&) override {
        std::lock_guard lock(mutex_);
        finished_ = true;
        cv_.notify_all();
    }
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return finished_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool finished_ = false;
};

// Progress on standard error: a bar redrawn in place on a terminal, otherwise a line every
// few seconds.
class ProgressView {
public:
    ProgressView(bool terminal, double every) : terminal_(terminal), every_(every) {}

    void update(const RunProgress& progress, double elapsed) {
        const auto now = Clock::now();
        if (terminal_) {
            draw(progressBar(progress, elapsed));
        } else if (every_ > 0 && now - lastLine_ >= std::chrono::duration<double>(every_)) {
            std::cerr << progressLine(progress, elapsed) << std::endl;
            lastLine_ = now;
        }
    }
    // Ends the bar's line, so that what follows starts on a line of its own.
    void finish(const RunProgress& progress, double elapsed) {
        if (!terminal_ || drawn_ == 0)
            return;
        draw(progressBar(progress, elapsed));
        std::cerr << std::endl;
        drawn_ = 0;
    }

private:
    void draw(const std::string& text) {
        std::string line = "\r" + text;
        if (text.size() < drawn_)
            line.append(drawn_ - text.size(), ' '); // blank out the end of a longer bar
        std::cerr << line << std::flush;
        drawn_ = text.size();
    }

    const bool terminal_;
    const double every_;
    Clock::time_point lastLine_ = Clock::now();
    std::size_t drawn_ = 0;
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// --check-words: asks checkWordsExists in batches and marks the rows the service does not
// index; returns the rows still to query. A batch that fails leaves its rows to the query.
std::vector<int> markUnindexedRows(ResultsTable& table, const QuerySettings& settings) {
    QueryRequest request;
    request.base = settings.base;
    request.cookie = settings.cookie;
    request.form = settings.shape.form;
    std::vector<int> rest;
    std::vector<int> batchRows;
    std::vector<std::string> batch;
    int notIndexed = 0;
    const auto ask = [&] {
        if (batch.empty())
            return;
        const WordCheck check = checkWords(request, batch);
        if (!check.ok)
            std::cerr << "corvanta-cli: checkWordsExists failed (" << statusMark(check.status)
                      << ": " << check.reason << "); querying those keywords anyway" << std::endl;
        for (const int row : batchRows) {
            if (check.ok && check.notIndexed.count(table.cellText(row, KeywordColumn)) > 0) {
                table.setOutcome(row, failedOutcome(QueryStatus::NotIndexed,
                                                    "checkWordsExists：服务不收录这个关键词"));
                ++notIndexed;
            } else {
                rest.push_back(row);
            }
        }
        batch.clear();
        batchRows.clear();
    };
    for (int row = 0; row < table.rowCount() && !platform::interruptRequested(); ++row) {
        const std::string keyword = table.cellText(row, KeywordColumn);
        // A comma would split the word list; such a keyword (or an empty one) is just queried.
        if (keyword.empty() || keyword.find(',') != std::string::npos) {
            rest.push_back(row);
            continue;
        }
        batch.push_back(keyword);
        batchRows.push_back(row);
        if (static_cast<int>(batch.size()) == kCheckWordsPerRequest)
            ask();
    }
    ask();
    std::cerr << "checked the keywords: " << notIndexed << " not indexed ("
              << statusMark(QueryStatus::NotIndexed) << ")" << std::endl;
    return rest;
}

} // namespace

int runQueryCommand(const QuerySettings& settings, const ReportOptions& report) {
    platform::installInterruptHandler();
    const auto start = Clock::now();

    auto table = std::make_shared<ResultsTable>(settings.trends);
    const ImportResult imported = importKeywords(settings.keywords, *table);
    if (!imported.ok) {
        std::cerr << "corvanta-cli: " << imported.error << std::endl;
        return ExitBadInput;
    }
    if (imported.rows == 0) {
        std::cerr << "corvanta-cli: keyword file '" << settings.keywords << "' holds no keywords"
                  << std::endl;
        return ExitBadInput;
    }
    std::cerr << "querying " << imported.rows << " keywords (" << settings.periodText << ", "
              << settings.threads << " threads";
    if (settings.shape.perRequest > 1)
        std::cerr << ", " << settings.shape.perRequest << " per request";
    std::cerr << ") at " << settings.base << std::endl;

    std::vector<int> rows;
    const bool checked = settings.checkWords && !platform::interruptRequested();
    if (checked)
        rows = markUnindexedRows(*table, settings);

    auto inputs = std::make_shared<FixedInputs>(std::to_string(settings.threads), settings.cookie,
                                                settings.periodIndex);
    QueryEngine engine(table, inputs, QueryEngineOptions{settings.base, 0}, settings.shape);
    FinishSignal finish;
    engine.setListener(&finish);
    ProgressView view(platform::isTerminal(platform::StandardStream::Error), report.progressEvery);

    bool interrupted = platform::interruptRequested();
    if (!interrupted && checked)
        engine.runRows(rows);
    else if (!interrupted)
        engine.runQuery();
    while (!interrupted && !finish.waitFor(kTick)) {
        interrupted = platform::interruptRequested();
        view.update(engine.progress(), secondsSince(start));
    }
    view.finish(engine.progress(), secondsSince(start));
    if (interrupted) {
        std::cerr << "interrupted: stopping; rows not done are marked "
                  << statusMark(QueryStatus::NotQueried)
                  << " (Ctrl-C again quits at once, without writing the output)" << std::endl;
        engine.cancel();
    }
    engine.shutdown();
    // Rows that never got an outcome (a run stopped before they were posted).
    for (int row = 0; row < table->rowCount(); ++row)
        if (!table->rowState(row).queried)
            table->setOutcome(row, failedOutcome(QueryStatus::NotQueried, "查询已取消"));

    const bool toStandardOutput = settings.output == "-";
    const ExportResult written =
        settings.jsonLines ? writeJsonLines(settings.output,
                                            [&](std::ostream& out) {
                                                writeQueryRows(*table, settings.trends, out);
                                            })
                           : exportResults(*table, settings.output);
    const RowCounts counts = countRows(*table);
    // When the file could not be written the table is the only place the results go;
    // standard output that carries the JSON Lines takes nothing else.
    if (!toStandardOutput &&
        (!written.ok || report.table || platform::isTerminal(platform::StandardStream::Output)))
        std::cout << resultsTable(*table) << std::flush;
    std::cerr << summaryLine(counts, secondsSince(start), interrupted) << std::endl;
    if (written.ok && !toStandardOutput)
        std::cerr << "wrote " << settings.output << std::endl;
    else
        std::cerr << "corvanta-cli: could not write '" << settings.output << "': " << written.error
                  << std::endl;
    std::cerr << failureAdvice(counts) << std::flush;

    if (!written.ok)
        return ExitNotWritten;
    if (interrupted)
        return ExitInterrupted;
    return counts.failed() > 0 ? ExitSomeFailed : ExitAllSucceeded;
}

int runTestCookieCommand(const std::string& base, const std::string& cookie) {
    const CookieTestResult result = testCookie(base, cookie);
    for (const std::string& message : cookieTestMessages(result))
        std::cout << message << std::endl;
    return result.accepted && !result.refused ? ExitAllSucceeded : ExitSomeFailed;
}

} // namespace corvanta::cli
