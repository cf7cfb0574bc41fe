#pragma once

// Runs corvanta-cli as a child process through the shell, its standard streams in files and
// standard input empty: neither stream is a terminal, as in a scheduled job.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace corvanta::test {

namespace fs = std::filesystem;

inline std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct CliResult {
    int exitCode = -1;
    std::string out; // standard output
    std::string err; // standard error
};

class CliProcess {
public:
    explicit CliProcess(fs::path folder) : folder_(std::move(folder)) {}

    // Runs to the end.
    CliResult run(const std::vector<std::string>& args) const {
        std::system((command(args) + "; echo $? >" + shellQuoted(file("rc"))).c_str());
        return result();
    }

    // Starts in the background; the process id is known once started() is true.
    void start(const std::vector<std::string>& args) const {
        for (const char* name : {"pid", "rc", "out", "err"})
            fs::remove(file(name));
        const std::string script = command(args) + " & echo $! >" + shellQuoted(file("pid.tmp")) +
                                   "; mv " + shellQuoted(file("pid.tmp")) + " " +
                                   shellQuoted(file("pid")) + "; wait $!; echo $? >" +
                                   shellQuoted(file("rc.tmp")) + "; mv " +
                                   shellQuoted(file("rc.tmp")) + " " + shellQuoted(file("rc"));
        std::system(("(" + script + ") >/dev/null 2>&1 &").c_str());
    }

    // Sends a signal (by name: INT, TERM) to the background process.
    bool signal(const std::string& name) const {
        if (!waitForFile("pid", std::chrono::seconds(10)))
            return false;
        std::string pid = readText(file("pid"));
        while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
            pid.pop_back();
        return std::system(("kill -" + name + " " + pid).c_str()) == 0;
    }

    // The background process's result once it has ended; nothing after the time-out.
    std::optional<CliResult> wait(std::chrono::milliseconds timeout) const {
        if (!waitForFile("rc", timeout))
            return std::nullopt;
        return result();
    }

    // Waits until the standard error text satisfies `ready`.
    template <typename Ready>
    bool waitForError(Ready ready, std::chrono::milliseconds timeout) const {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            if (ready(readText(file("err"))))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    std::string file(const std::string& name) const { return (folder_ / ("cli." + name)).string(); }

    std::string command(const std::vector<std::string>& args) const {
        std::string text = shellQuoted(CORVANTA_CLI_PATH);
        for (const auto& arg : args)
            text += " " + shellQuoted(arg);
        return text + " >" + shellQuoted(file("out")) + " 2>" + shellQuoted(file("err")) +
               " </dev/null";
    }

    bool waitForFile(const std::string& name, std::chrono::milliseconds timeout) const {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!fs::exists(file(name))) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    CliResult result() const {
        CliResult r;
        const std::string rc = readText(file("rc"));
        r.exitCode = rc.empty() ? -1 : std::atoi(rc.c_str());
        r.out = readText(file("out"));
        r.err = readText(file("err"));
        return r;
    }

    fs::path folder_;
};

} // namespace corvanta::test
