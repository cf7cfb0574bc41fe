#pragma once

// The query run: one task per row on the program's worker pool, each writing its outcome
// into the results table. The front ends (window, batch mode, tests) drive the same engine.

#include "core/CookieRoster.h"
#include "pool/WorkerPool.h"
#include "query/QueryTask.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvanta {

class ResultsTable;

// The values the engine reads from its front end, at the moments it needs them: the
// worker count when a run starts the pool, the period for every row it posts, the cookie
// when each task starts. Called from any thread; implementations must not wait for a
// window.
class QueryInputs {
public:
    virtual ~QueryInputs() = default;
    virtual std::string workerCountText() const = 0;
    virtual std::string cookieText() const = 0;
    // Zero-based period index (0 7 days, 1 30 days, 2 365 days); -1 when none is chosen.
    virtual int periodIndex() const = 0;
};

// Where the rows of the current run stand. A run lasts from a press that finds nothing
// outstanding until every row posted since has an outcome; presses during a run add to it.
struct RunProgress {
    int posted = 0;
    int done = 0;
    std::array<int, kQueryStatusCount> byStatus{}; // outcomes so far, by QueryStatus

    int count(QueryStatus status) const { return byStatus[static_cast<std::size_t>(status)]; }
    int succeeded() const { return count(QueryStatus::Ok); }
    int failed() const { return done - succeeded(); }
    bool finished() const { return done >= posted; }
};

// What happened to one of a run's cookies (see QueryEngineOptions::cookies).
struct CookieEvent {
    enum class Kind {
        Refused,  // status 10000: not used again in this run
        Blocked,  // status 10001: resting for the cool-down, or not used again
        NoneLeft, // no usable cookie is left: the rows not done are marked "未查询"
    };
    Kind kind = Kind::Refused;
    int index = -1; // the cookie's position in the list, from 0; -1 for NoneLeft
    int usable = 0; // cookies still usable (now or after their rest)
};

// Told how a run goes. Called on the posting thread or on worker threads; it must return
// quickly and never wait for a window.
class QueryEngineListener {
public:
    virtual ~QueryEngineListener() = default;
    virtual void rowsPosted(const RunProgress& progress) = 0;
    virtual void rowDone(int row, const RunProgress& progress) = 0;
    virtual void runFinished(const RunProgress& progress) = 0;
    // Each cookie event once (a cookie refused or blocked by several requests at once is
    // reported once).
    virtual void cookieChanged(const CookieEvent&) {}
};

struct QueryEngineOptions {
    std::string base;       // the index service's base address
    int timeoutSeconds = 0; // per request phase; below 1: 30 s

    // Long runs (the batch mode); the window keeps the defaults.
    // Several accounts taken in turn; empty: the inputs' cookie for every request. A cookie
    // answered "cookie无效" is dropped and one answered "请求受限" rests (see pacing), and
    // their rows go to the other cookies; with none left, the rows not done are "未查询".
    std::vector<std::string> cookies;
    PacingOptions pacing; // with `cookies`: requests per second per cookie, cool-down
    // Further tries of a row that failed ("失败": no answer, time-out, 5xx, not the service's
    // JSON), after retryWaitMs, doubled for each further try, with up to half again at random.
    int retries = 0;
    int retryWaitMs = 1000;
};

// What the requests of a run look like beyond the period; the defaults are the window's.
struct RequestShape {
    RequestForm form; // the word form, region, days or dates and extra headers
    // Rows one task asks for in one request (list form only), 1 to kMaxKeywordsPerRequest;
    // each row still gets its own outcome.
    int perRequest = 1;
};

// Largest worker count a run starts the pool with, whatever number is typed.
inline constexpr int kMaxWorkerCount = 100;

class QueryEngine {
public:
    QueryEngine(std::shared_ptr<ResultsTable> table, std::shared_ptr<const QueryInputs> inputs,
                QueryEngineOptions options, RequestShape shape = {});
    // Shuts down (see shutdown).
    ~QueryEngine();
    QueryEngine(const QueryEngine&) = delete;
    QueryEngine& operator=(const QueryEngine&) = delete;

    // Starts the pool if it is not running (one core worker, at most the typed worker count,
    // 1 to kMaxWorkerCount), then posts one task per row present now (per group of
    // shape.perRequest rows of the same period), each for the period chosen at its posting.
    // `pumpEvents`, when given, runs now and then while posting so that a window stays responsive.
    // Returns the number of rows posted.
    int runQuery(const std::function<void()>& pumpEvents = {});
    // Posts the given rows only, like runQuery.
    int runRows(const std::vector<int>& rows, const std::function<void()>& pumpEvents = {});

    RunProgress progress() const;
    // The listener, or none; it must stay alive until replaced or until shutdown.
    void setListener(QueryEngineListener* listener);

    // Ends the run at once: nothing more is posted, queued tasks are dropped (their rows
    // marked "未查询"), requests in flight are cancelled, and the running tasks are waited
    // for (they end within moments). Later presses post nothing. Idempotent.
    void shutdown();
    // Like shutdown, but the engine can run again afterwards.
    void cancel();

    int maxWorkers() const; // the pool's current maximum; 0 before the first run

    struct State;

private:
    bool ensurePool();
    int post(int rowCount, const std::vector<int>* rows, const std::function<void()>& pumpEvents);
    void stopAndDrain();

    std::shared_ptr<State> state_;
    WorkerPool pool_;
};

} // namespace corvanta
