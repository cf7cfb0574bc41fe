#include "core/QueryEngine.h"

#include "core/ResultsTable.h"
#include "query/KeywordGroups.h"
#include "query/QueryText.h"
#include "util/Platform.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <random>

namespace corvanta {

namespace {

constexpr int kPumpEvery = 256;    // rows posted between two calls of pumpEvents
constexpr int kReportEvery = 1024; // rows posted between two rowsPosted reports
// How long shutdown waits for the running tasks; cancelled requests end within 25 ms,
// so this bound is never reached unless a task hangs outside the request.
constexpr auto kShutdownWait = std::chrono::seconds(5);

} // namespace

struct QueryEngine::State {
    std::shared_ptr<ResultsTable> table;
    std::shared_ptr<const QueryInputs> inputs;
    QueryEngineOptions options;
    RequestShape shape;
    std::atomic<bool> cancelled{false};   // watched by the requests in flight
    std::unique_ptr<CookieRoster> roster; // the run's cookies, when it has its own list
    std::atomic<bool> noneLeftReported{false};
    std::condition_variable wake; // ends a wait before a retry when the run is cancelled
    std::mt19937 random{4242};    // jitter of the retry waits

    mutable std::mutex mutex;
    std::condition_variable idle;
    RunProgress progress;
    int posting = 0; // posting loops under way: a run cannot finish during one
    int running = 0; // tasks between their start and their end
    bool closed = false;

    std::mutex listenerMutex;
    QueryEngineListener* listener = nullptr;

    void report(void (QueryEngineListener::*event)(const RunProgress&), const RunProgress& p) {
        std::lock_guard lock(listenerMutex);
        if (listener)
            (listener->*event)(p);
    }

    // Counts a finished row and tells the listener; the run ends with its last row.
    void rowFinished(int row, QueryStatus status) {
        RunProgress snapshot;
        bool finished = false;
        {
            std::lock_guard lock(mutex);
            ++progress.done;
            ++progress.byStatus[static_cast<std::size_t>(status)];
            snapshot = progress;
            finished = posting == 0 && progress.finished();
        }
        {
            std::lock_guard lock(listenerMutex);
            if (listener) {
                listener->rowDone(row, snapshot);
                if (finished)
                    listener->runFinished(snapshot);
            }
        }
    }

    // One task: the rows' keywords in one request (one row, unless perRequest is above 1).
    void runTask(const std::vector<int>& rows, Period period) {
        static thread_local bool lowered = false;
        if (!lowered) {
            platform::lowerCurrentThreadPriority();
            lowered = true;
        }
        {
            std::lock_guard lock(mutex);
            ++running;
        }
        const std::vector<QueryOutcome> outcomes = queryRows(rows, period);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const int row = rows[i];
            const QueryOutcome& outcome = outcomes[i];
            // A cancelled query leaves a row that already holds an outcome as it was.
            if (outcome.status != QueryStatus::NotQueried || !table->rowState(row).queried)
                table->setOutcome(row, outcome);
            rowFinished(row, outcome.status);
        }
        {
            std::lock_guard lock(mutex);
            --running;
        }
        idle.notify_all();
    }

    // Queries the rows' keywords together: through the run's cookies in turn when it has
    // several, asking again for the keywords that failed as the options say.
    std::vector<QueryOutcome> queryRows(const std::vector<int>& rows, Period period) {
        QueryRequest request;
        request.base = options.base;
        request.period = period;
        request.cancel = &cancelled;
        request.timeoutSeconds = options.timeoutSeconds;
        request.form = shape.form;
        std::vector<std::string> keywords;
        for (const int row : rows)
            keywords.push_back(table->cellText(row, KeywordColumn));

        std::vector<QueryOutcome> outcomes(rows.size(),
                                           failedOutcome(QueryStatus::NotQueried, "查询已取消"));
        std::vector<std::size_t> pending(rows.size());
        for (std::size_t i = 0; i < pending.size(); ++i)
            pending[i] = i;
        int failures = 0;
        // Rows move to another cookie at most this often, so that cookies that keep being
        // blocked and coming back after their rest cannot hold them for ever.
        int moves = roster ? 3 * roster->size() : 0;
        while (!pending.empty() && !cancelled.load()) {
            int cookieIndex = -1;
            if (roster) {
                const CookieRoster::Turn turn = roster->take(cookieIndex, cancelled);
                if (turn == CookieRoster::Turn::Cancelled)
                    break;
                if (turn == CookieRoster::Turn::NoneLeft) {
                    reportNoneLeft();
                    for (const std::size_t i : pending)
                        outcomes[i] = failedOutcome(QueryStatus::NotQueried,
                                                    "没有可用的cookie：全部无效或请求受限");
                    break;
                }
                request.cookie = roster->cookie(cookieIndex);
            } else {
                request.cookie = inputs->cookieText();
            }
            std::vector<std::string> asked;
            for (const std::size_t i : pending)
                asked.push_back(keywords[i]);
            const std::vector<QueryOutcome> got = queryKeywords(request, asked);

            std::optional<QueryStatus> cookieTrouble;
            std::vector<std::size_t> failed;
            for (std::size_t k = 0; k < pending.size(); ++k) {
                outcomes[pending[k]] = got[k];
                if (got[k].status == QueryStatus::CookieRefused ||
                    got[k].status == QueryStatus::RequestBlocked)
                    cookieTrouble = got[k].status;
                if (got[k].status == QueryStatus::Failed)
                    failed.push_back(pending[k]);
            }
            if (roster && cookieTrouble) {
                const bool refused = *cookieTrouble == QueryStatus::CookieRefused;
                if (refused ? roster->refuse(cookieIndex) : roster->block(cookieIndex)) {
                    CookieEvent event;
                    event.kind = refused ? CookieEvent::Kind::Refused : CookieEvent::Kind::Blocked;
                    event.index = cookieIndex;
                    event.usable = roster->usableCount();
                    reportCookie(event);
                }
                if (roster->usableCount() > 0 && moves-- > 0)
                    continue; // the rows go to another cookie
                break;
            }
            if (failed.empty() || failures >= options.retries)
                break;
            if (!waitBeforeRetry(failures++))
                break;
            pending = std::move(failed);
        }
        return outcomes;
    }

    // Waits before the try after `failures` failed ones; false when cancelled meanwhile.
    bool waitBeforeRetry(int failures) {
        double ms = std::max(0, options.retryWaitMs) * std::pow(2.0, std::min(failures, 16));
        {
            std::lock_guard lock(mutex);
            ms *= 1.0 + std::uniform_real_distribution<double>(0, 0.5)(random);
        }
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double, std::milli>(ms));
        std::unique_lock lock(mutex);
        while (!cancelled.load() && std::chrono::steady_clock::now() < until)
            wake.wait_until(lock, std::min(until, std::chrono::steady_clock::now() +
                                                      std::chrono::milliseconds(50)));
        return !cancelled.load();
    }

    void reportCookie(const CookieEvent& event) {
        std::lock_guard lock(listenerMutex);
        if (listener)
            listener->cookieChanged(event);
    }

    void reportNoneLeft() {
        if (noneLeftReported.exchange(true))
            return;
        CookieEvent event;
        event.kind = CookieEvent::Kind::NoneLeft;
        reportCookie(event);
    }
};

QueryEngine::QueryEngine(std::shared_ptr<ResultsTable> table,
                         std::shared_ptr<const QueryInputs> inputs, QueryEngineOptions options,
                         RequestShape shape)
    : state_(std::make_shared<State>()) {
    state_->shape = std::move(shape);
    state_->table = std::move(table);
    state_->inputs = std::move(inputs);
    state_->options = std::move(options);
    if (!state_->options.cookies.empty())
        state_->roster =
            std::make_unique<CookieRoster>(state_->options.cookies, state_->options.pacing);
}

QueryEngine::~QueryEngine() {
    shutdown();
}

bool QueryEngine::ensurePool() {
    if (pool_.getState() == PoolState::Running)
        return true;
    const int typed = parseWorkerCount(state_->inputs->workerCountText());
    const int workers = std::clamp(typed, 1, kMaxWorkerCount);
    return pool_.start(1, workers);
}

int QueryEngine::runQuery(const std::function<void()>& pumpEvents) {
    return post(state_->table->rowCount(), nullptr, pumpEvents);
}

int QueryEngine::runRows(const std::vector<int>& rows, const std::function<void()>& pumpEvents) {
    return post(static_cast<int>(rows.size()), &rows, pumpEvents);
}

int QueryEngine::post(int count, const std::vector<int>* rows,
                      const std::function<void()>& pumpEvents) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->closed)
            return 0;
        if (state_->posting == 0 && state_->progress.finished())
            state_->progress = RunProgress{};
        ++state_->posting;
    }
    ensurePool();

    int posted = 0;
    const auto perTask =
        static_cast<std::size_t>(std::clamp(state_->shape.perRequest, 1, kMaxKeywordsPerRequest));
    std::vector<int> group; // rows of one task, all of groupPeriod
    Period groupPeriod = Period::Days7;
    const auto postGroup = [&] {
        if (group.empty())
            return;
        const int size = static_cast<int>(group.size());
        {
            std::lock_guard lock(state_->mutex);
            state_->progress.posted += size;
        }
        std::shared_ptr<State> state = state_;
        if (pool_.post([state, task = std::move(group), period = groupPeriod] {
                state->runTask(task, period);
            })) {
            posted += size;
        } else {
            std::lock_guard lock(state_->mutex);
            state_->progress.posted -= size;
        }
        group = {};
    };
    for (int i = 0; i < count; ++i) {
        const int row = rows ? (*rows)[static_cast<std::size_t>(i)] : i;
        Period period;
        if (periodFromIndex(state_->inputs->periodIndex(), period)) {
            if (!group.empty() && period != groupPeriod)
                postGroup();
            group.push_back(row);
            groupPeriod = period;
            if (group.size() >= perTask)
                postGroup();
        }
        if (pumpEvents && (i + 1) % kPumpEvery == 0)
            pumpEvents();
        if ((i + 1) % kReportEvery == 0)
            state_->report(&QueryEngineListener::rowsPosted, progress());
    }

    postGroup();

    RunProgress snapshot;
    bool finished = false;
    {
        std::lock_guard lock(state_->mutex);
        --state_->posting;
        snapshot = state_->progress;
        finished = state_->posting == 0 && snapshot.finished();
    }
    state_->report(&QueryEngineListener::rowsPosted, snapshot);
    if (finished)
        state_->report(&QueryEngineListener::runFinished, snapshot);
    if (pumpEvents)
        pumpEvents();
    return posted;
}

RunProgress QueryEngine::progress() const {
    std::lock_guard lock(state_->mutex);
    return state_->progress;
}

void QueryEngine::setListener(QueryEngineListener* listener) {
    std::lock_guard lock(state_->listenerMutex);
    state_->listener = listener;
}

int QueryEngine::maxWorkers() const {
    return pool_.getState() == PoolState::Running ? pool_.getMaxWorkers() : 0;
}

void QueryEngine::cancel() {
    state_->cancelled = true;
    state_->wake.notify_all();
    // The queued tasks still run, each marking its row without a request.
    pool_.stop(StopMode::DrainAndWait);
    stopAndDrain();
    state_->cancelled = false;
}

void QueryEngine::shutdown() {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->closed)
            return;
        state_->closed = true;
    }
    state_->cancelled = true;
    state_->wake.notify_all();
    pool_.destroy();
    stopAndDrain();
    setListener(nullptr);
}

void QueryEngine::stopAndDrain() {
    std::unique_lock lock(state_->mutex);
    state_->idle.wait_for(lock, kShutdownWait, [this] { return state_->running == 0; });
}

} // namespace corvanta
