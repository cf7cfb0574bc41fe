#include "cli/BatchCommands.h"

#include "cli/Journal.h"
#include "cli/JsonLines.h"
#include "cli/RunReport.h"
#include "core/CookieTest.h"
#include "core/ExportCommand.h"
#include "core/KeywordImport.h"
#include "core/QueryEngine.h"
#include "core/ResultsTable.h"
#include "export/ListReader.h"
#include "query/KeywordGroups.h"
#include "util/Platform.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
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

// Wakes the waiting main thread when the run has finished; writes each finished row to the
// journal and tells of what happens to the cookies.
class FinishSignal : public QueryEngineListener {
public:
    FinishSignal(const ResultsTable& table, Journal& journal, const QuerySettings& settings)
        : table_(table), journal_(journal), settings_(settings) {}

    void rowsPosted(const RunProgress&) override {}
    void rowDone(int row, const RunProgress&) override { journal_.write(table_, row); }
    void cookieChanged(const CookieEvent& event) override {
        std::lock_guard lock(mutex_);
        std::cerr << "\r";
        const std::string which = event.index < 0 ? std::string() : cookieName(event.index);
        switch (event.kind) {
        case CookieEvent::Kind::Refused:
            std::cerr << which << " is not logged in (status 10000): not used again in this run; "
                      << event.usable << " cookie(s) left" << std::endl;
            break;
        case CookieEvent::Kind::Blocked:
            std::cerr << which << " got a request block (status 10001): "
                      << (settings_.cooldownSeconds >= 0
                              ? "resting " + std::to_string(settings_.cooldownSeconds) + " s"
                              : std::string("not used again in this run"))
                      << "; " << event.usable << " cookie(s) left" << std::endl;
            if (!warnedOfBlock_) {
                warnedOfBlock_ = true;
                std::cerr << "warning: the service limits each account; a blocked account can "
                             "stay blocked for hours or days. Lower --rate (public experience "
                             "suggests about one request per 10-15 s per account) and --threads."
                          << std::endl;
            }
            break;
        case CookieEvent::Kind::NoneLeft:
            std::cerr << "no usable cookie is left: nothing more is sent; the rows not done are "
                         "marked "
                      << statusMark(QueryStatus::NotQueried) << std::endl;
            break;
        }
    }
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
    // A cookie as the user knows it: never its text, which must not reach a log.
    std::string cookieName(int index) const {
        const std::size_t i = static_cast<std::size_t>(index);
        if (settings_.cookies.size() == 1)
            return "the cookie";
        return "cookie " + std::to_string(index + 1) + " (line " +
               std::to_string(i < settings_.cookieLines.size() ? settings_.cookieLines[i] : 0) +
               " of the cookie file)";
    }

    const ResultsTable& table_;
    Journal& journal_;
    const QuerySettings& settings_;
    bool warnedOfBlock_ = false;
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
std::vector<int> markUnindexedRows(ResultsTable& table, const QuerySettings& settings,
                                   const std::vector<int>& candidates) {
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
    for (const int row : candidates) {
        if (platform::interruptRequested())
            break;
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

// The rows of a list exported earlier: rows whose values are all there keep them (as do rows
// marked 未收录, which asking again does not change); the others are to be queried again.
ImportResult loadExportedList(const std::string& path, ResultsTable& table) {
    ImportResult result;
    ReadList list;
    if (!readExportedList(path, list, result.error))
        return result;
    // Columns by their titles where the list has them (workbooks), else in export order.
    std::array<int, 4> at = {0, 1, 2, 3};
    const std::array<const char*, 4> titles = {"关键词", "PC指数", "移动指数", "总指数"};
    for (std::size_t k = 0; k < titles.size() && !list.titles.empty(); ++k) {
        const auto found = std::find(list.titles.begin(), list.titles.end(), titles[k]);
        if (found == list.titles.end()) {
            result.error = "'" + path + "' has no column " + titles[k];
            return result;
        }
        at[k] = static_cast<int>(found - list.titles.begin());
    }
    const auto cell = [&](const std::vector<std::string>& row, int k) {
        const auto column = static_cast<std::size_t>(at[static_cast<std::size_t>(k)]);
        return column < row.size() ? row[column] : std::string();
    };
    std::vector<std::string> keywords;
    for (const auto& row : list.rows)
        keywords.push_back(cell(row, 0));
    const int first = table.appendKeywords(keywords);
    const auto isMark = [](const std::string& text) {
        for (int s = 1; s < kQueryStatusCount; ++s)
            if (text == statusMark(static_cast<QueryStatus>(s)))
                return true;
        return false;
    };
    const std::string notIndexed = statusMark(QueryStatus::NotIndexed);
    for (std::size_t i = 0; i < list.rows.size(); ++i) {
        const int row = first + static_cast<int>(i);
        QueryOutcome outcome;
        outcome.status = QueryStatus::Ok;
        outcome.pc = cell(list.rows[i], 1);
        outcome.mobile = cell(list.rows[i], 2);
        outcome.overall = cell(list.rows[i], 3);
        if (outcome.pc == notIndexed) {
            table.setOutcome(row, failedOutcome(QueryStatus::NotIndexed, "服务不收录这个关键词"));
            continue;
        }
        const bool hasValues = !outcome.pc.empty() && !outcome.mobile.empty() &&
                               !outcome.overall.empty() && !isMark(outcome.pc) &&
                               !isMark(outcome.mobile) && !isMark(outcome.overall);
        if (hasValues)
            table.setOutcome(row, outcome);
    }
    result.ok = true;
    result.rows = static_cast<int>(keywords.size());
    return result;
}

} // namespace

int runQueryCommand(const QuerySettings& settings, const ReportOptions& report) {
    platform::installInterruptHandler();
    const auto start = Clock::now();

    auto table = std::make_shared<ResultsTable>(settings.trends);
    const ImportResult imported = settings.requery ? loadExportedList(settings.keywords, *table)
                                                   : importKeywords(settings.keywords, *table);
    if (!imported.ok) {
        std::cerr << "corvanta-cli: " << imported.error << std::endl;
        return ExitBadInput;
    }
    if (imported.rows == 0) {
        std::cerr << "corvanta-cli: keyword file '" << settings.keywords << "' holds no keywords"
                  << std::endl;
        return ExitBadInput;
    }

    // A journal beside OUT lets a stopped run be resumed.
    const std::string journalFile = journalPath(settings.output);
    std::vector<int> rows;
    if (settings.resume) {
        const int restored = restoreFromJournal(journalFile, *table);
        std::cerr << (restored > 0 ? "resuming: " + std::to_string(restored) +
                                         " rows already have a value (from " + journalFile + ")"
                                   : "nothing to resume in " + journalFile + "; querying every row")
                  << std::endl;
    } else if (std::ifstream(journalFile).is_open()) {
        std::cerr << "note: " << journalFile
                  << " is the journal of an unfinished run; starting afresh (--resume continues "
                     "it)"
                  << std::endl;
    }
    for (int row = 0; row < table->rowCount(); ++row)
        if (!table->rowState(row).queried)
            rows.push_back(row);
    Journal journal;
    std::string journalError;
    if (!journal.open(journalFile, settings.resume, journalError)) {
        std::cerr << "corvanta-cli: " << journalError << std::endl;
        return ExitNotWritten;
    }

    if (settings.checkWords && !platform::interruptRequested())
        rows = markUnindexedRows(*table, settings, rows);

    std::cerr << "querying " << rows.size() << " keywords (" << settings.periodText << ", "
              << settings.threads << " threads";
    if (settings.shape.perRequest > 1)
        std::cerr << ", " << settings.shape.perRequest << " per request";
    if (settings.cookies.size() > 1)
        std::cerr << ", " << settings.cookies.size() << " cookies in turn";
    if (settings.rate > 0)
        std::cerr << ", at most " << settings.rate << " requests/s per cookie";
    if (settings.retries > 0)
        std::cerr << ", " << settings.retries << " retries";
    std::cerr << ") at " << settings.base << std::endl;

    auto inputs = std::make_shared<FixedInputs>(std::to_string(settings.threads), settings.cookie,
                                                settings.periodIndex);
    QueryEngineOptions options;
    options.base = settings.base;
    // Several cookies or a pace turn the cookies into a roster: a refused or blocked one is
    // set aside and its rows go to the others.
    if (settings.cookies.size() > 1 || settings.rate > 0 || settings.cooldownSeconds >= 0)
        options.cookies = settings.cookies;
    options.pacing.requestsPerSecond = settings.rate;
    options.pacing.jitter = settings.rateJitter;
    options.pacing.cooldownSeconds = settings.cooldownSeconds;
    options.retries = settings.retries;
    options.retryWaitMs = settings.retryWaitMs;
    QueryEngine engine(table, inputs, options, settings.shape);
    FinishSignal finish(*table, journal, settings);
    engine.setListener(&finish);
    ProgressView view(platform::isTerminal(platform::StandardStream::Error), report.progressEvery);

    bool interrupted = platform::interruptRequested();
    if (!interrupted)
        engine.runRows(rows);
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
    journal.close();
    // A finished run needs no journal; a stopped one keeps it for --resume.
    if (written.ok && !interrupted) {
        std::error_code ec;
        std::filesystem::remove(
            std::filesystem::path(std::u8string(journalFile.begin(), journalFile.end())), ec);
    }
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
