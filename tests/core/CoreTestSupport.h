#pragma once

#include "core/QueryEngine.h"
#include "core/ResultsTable.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <string>
#include <thread>

namespace corvanta::test {

// What a front end would hand the engine: values that a test changes while a run goes.
class TestInputs : public QueryInputs {
public:
    std::string workerCountText() const override {
        std::lock_guard lock(mutex_);
        return workers_;
    }
    std::string cookieText() const override {
        std::lock_guard lock(mutex_);
        return cookie_;
    }
    int periodIndex() const override {
        std::lock_guard lock(mutex_);
        return period_;
    }
    void set(std::string workers, std::string cookie, int period) {
        std::lock_guard lock(mutex_);
        workers_ = std::move(workers);
        cookie_ = std::move(cookie);
        period_ = period;
    }
    void setCookie(std::string cookie) {
        std::lock_guard lock(mutex_);
        cookie_ = std::move(cookie);
    }

private:
    mutable std::mutex mutex_;
    std::string workers_ = "15";
    std::string cookie_ = "BDUSS=corvanta-demo";
    int period_ = 0;
};

// Records the engine's events and lets a test wait for the end of a run.
class RunRecorder : public QueryEngineListener {
public:
    void rowsPosted(const RunProgress&) override {}
    void rowDone(int, const RunProgress& progress) override {
        std::lock_guard lock(mutex_);
        last_ = progress;
        ++rowsDone_;
    }
    void runFinished(const RunProgress& progress) override {
        std::lock_guard lock(mutex_);
        last_ = progress;
        ++finished_;
        cv_.notify_all();
    }
    // Waits for the n-th end of a run; false after the time-out.
    bool waitFinished(int n = 1, std::chrono::seconds timeout = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return finished_ >= n; });
    }
    RunProgress last() const {
        std::lock_guard lock(mutex_);
        return last_;
    }
    int rowsDone() const {
        std::lock_guard lock(mutex_);
        return rowsDone_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    RunProgress last_;
    int rowsDone_ = 0;
    int finished_ = 0;
};

// A fresh folder per test, removed afterwards.
class TempFolder {
public:
    TempFolder() {
        std::random_device seed;
        path_ = std::filesystem::temp_directory_path() /
                ("corvanta-core-" + std::to_string(seed()) + std::to_string(seed()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name, const std::string& bytes) const {
        const auto p = path_ / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }
    std::string path(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace corvanta::test
