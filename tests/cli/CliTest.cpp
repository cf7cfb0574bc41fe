#include "CliRunner.h"
#include "FakeIndexService.h"
#include "core/ExportCommand.h"
#include "core/ResultsTable.h"
#include "export/ExportTestSupport.h"
#include "util/Platform.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>

namespace corvanta {
namespace {

using fake::FakeIndexService;
using test::CliProcess;
using test::CliResult;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kCookie = "BDUSS=corvanta-demo";
const std::string kNotQueried = "\xE6\x9C\xAA\xE6\x9F\xA5\xE8\xAF\xA2"; // 未查询

// Keywords as a user's file holds them: Chinese, a blank inside, CR LF line ends.
const std::vector<std::string> kKeywords = {
    "\xE6\x89\x8B\xE6\x9C\xBA",                                     // 手机
    "\xE7\xAC\x94\xE8\xAE\xB0\xE6\x9C\xAC\xE7\x94\xB5\xE8\x84\x91", // 笔记本电脑
    "iphone 15",
    "python",
    "mbti\xE6\xB5\x8B\xE8\xAF\x95", // mbti测试
};

std::string lines(const std::vector<std::string>& keywords, const std::string& end = "\r\n") {
    std::string text;
    for (const auto& keyword : keywords)
        text += keyword + end;
    return text;
}

std::vector<std::string> numbered(int count, const std::string& prefix = "kw") {
    std::vector<std::string> keywords;
    for (int i = 0; i < count; ++i)
        keywords.push_back(prefix + std::to_string(i));
    return keywords;
}

int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t pos = text.find(part); pos != std::string::npos;
         pos = text.find(part, pos + part.size()))
        ++n;
    return n;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        result.push_back(line);
        start = end + 1;
    }
    return result;
}

// A .txt or .csv export as UTF-8 lines of fields (the files are in the legacy code page).
std::vector<std::vector<std::string>> readTextExport(const std::string& path) {
    const auto utf8 =
        platform::convertCharset(test::readText(path), platform::legacyCharset, "UTF-8");
    std::vector<std::vector<std::string>> rows;
    if (!utf8)
        return rows;
    for (const std::string& line : splitLines(*utf8)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
            fields.push_back(line.substr(start, bar - start));
        rows.push_back(fields);
    }
    return rows;
}

// The values a spreadsheet reader sees in a workbook: cell -> value.
std::map<std::string, std::string> workbookValues(const std::string& path) {
    std::map<std::string, std::string> values;
    for (const auto& [key, value] : test::readWorkbook(path))
        if (key.ends_with(".value"))
            values[key.substr(0, key.size() - 6)] = value;
    return values;
}

class CliTest : public testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        folder_ = fs::temp_directory_path() /
                  ("corvanta-cli-" + std::to_string(seed()) + "-" + std::to_string(seed()));
        fs::create_directories(folder_);
        ASSERT_TRUE(service.start()) << service.lastError();
    }
    void TearDown() override {
        service.stop();
        std::error_code ec;
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(folder_, ec);
    }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    std::string file(const std::string& name, const std::string& bytes) const {
        std::ofstream(folder_ / name, std::ios::binary) << bytes;
        return path(name);
    }
    std::string keywordFile(const std::vector<std::string>& keywords = kKeywords) const {
        return file("keywords.txt", lines(keywords));
    }

    // `query KEYWORDS -o OUT` with the demo cookie and the fake service unless `more` gives
    // a cookie or an endpoint of its own, then `more`.
    std::vector<std::string> queryArgs(const std::string& keywords, const std::string& out,
                                       std::vector<std::string> more = {}) const {
        std::vector<std::string> args = {"query", keywords, "-o", out};
        const auto given = [&](const char* option) {
            return std::find(more.begin(), more.end(), option) != more.end();
        };
        if (!given("--cookie") && !given("--cookie-file"))
            args.insert(args.end(), {"--cookie", kCookie});
        if (!given("--endpoint"))
            args.insert(args.end(), {"--endpoint", service.baseUrl()});
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    CliResult run(const std::vector<std::string>& args) const { return cli().run(args); }
    CliProcess cli() const { return CliProcess(folder_); }

    // The table the window would export for these keywords when every query succeeded.
    std::unique_ptr<ResultsTable> expectedTable(const std::vector<std::string>& keywords,
                                                int days) const {
        auto table = std::make_unique<ResultsTable>();
        table->appendKeywords(keywords);
        for (int row = 0; row < table->rowCount(); ++row) {
            const auto averages =
                FakeIndexService::expectedAverages(keywords[static_cast<std::size_t>(row)], days);
            QueryOutcome outcome;
            outcome.status = QueryStatus::Ok;
            outcome.pc = std::to_string(averages.pc);
            outcome.mobile = std::to_string(averages.wise);
            outcome.overall = std::to_string(averages.all);
            table->setOutcome(row, outcome);
        }
        return table;
    }

    // Checks one exported row: the keyword's averages, or the not-queried mark.
    static bool isFetchedOrNotQueried(const std::vector<std::string>& fields, int days) {
        if (fields.size() != 4)
            return false;
        if (fields[1] == kNotQueried)
            return fields[2] == kNotQueried && fields[3] == kNotQueried;
        const auto averages = FakeIndexService::expectedAverages(fields[0], days);
        return fields[1] == std::to_string(averages.pc) &&
               fields[2] == std::to_string(averages.wise) &&
               fields[3] == std::to_string(averages.all);
    }

    fs::path folder_;
    FakeIndexService service;
};

// The output holds what the window's export writes for the same results, in every format.
TEST_F(CliTest, EveryOutputFormatHoldsTheFetchedAverages) {
    const std::string keywords = keywordFile();
    for (const std::string period : {"7", "30", "365"}) {
        const auto expected = expectedTable(kKeywords, std::stoi(period));
        for (const std::string extension : {".txt", ".csv", ".xlsx", ".xls", ".XLSX"}) {
            SCOPED_TRACE(period + " days, " + extension);
            const bool workbook = extension != ".txt" && extension != ".csv";
            if (workbook && period != "30")
                continue; // the workbook reader is slow to start; one period shows the format
            const std::string out = path("results" + period + extension);
            const CliResult r = run(queryArgs(keywords, out, {"--period", period}));
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_TRUE(r.out.empty()) << "no table unless standard output is a terminal";
            EXPECT_NE(r.err.find("done: 5 rows, 5 succeeded, 0 failed"), std::string::npos)
                << r.err;
            const std::string reference = path("reference" + period + extension);
            ASSERT_TRUE(exportResults(*expected, reference).ok);
            if (!workbook) {
                EXPECT_EQ(test::readText(out), test::readText(reference));
                continue;
            }
            const auto values = workbookValues(out);
            EXPECT_EQ(values, workbookValues(reference));
            const auto a2 = std::find_if(values.begin(), values.end(),
                                         [](const auto& v) { return v.first.ends_with("!A2"); });
            ASSERT_NE(a2, values.end());
            EXPECT_EQ(a2->second, kKeywords[0]);
        }
    }
}

// Exit code 1 as soon as one row failed; the summary counts every mark and says what to do.
TEST_F(CliTest, FailedRowsAreMarkedCountedAndEndWithExitCodeOne) {
    struct Case {
        const char* name;
        fake::Fault fault;
        std::string cookie;
        std::set<std::string> unknown;
        std::string summary;
        std::string advice;
    };
    const Case cases[] = {
        {"two unknown keywords",
         fake::Fault::None,
         kCookie,
         {"python", "iphone 15"},
         "5 rows, 3 succeeded, 2 failed (cookie无效 0, 请求受限 0, 失败 0, 未查询 0, 未收录 2)",
         "未收录: the service does not index"},
        {"refused cookie",
         fake::Fault::None,
         "BDUSS=stale",
         {},
         "5 rows, 0 succeeded, 5 failed (cookie无效 5, 请求受限 0, 失败 0, 未查询 0)",
         "log in again"},
        {"request block",
         fake::Fault::RateLimited,
         kCookie,
         {},
         "5 rows, 0 succeeded, 5 failed (cookie无效 0, 请求受限 5, 失败 0, 未查询 0)",
         "fewer --threads"},
        {"server error",
         fake::Fault::ServerError,
         kCookie,
         {},
         "5 rows, 0 succeeded, 5 failed (cookie无效 0, 请求受限 0, 失败 5, 未查询 0)",
         ""},
    };
    const std::string keywords = keywordFile();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.setFault(c.fault);
        service.setUnknownKeywords(c.unknown);
        const std::string out = path("out.csv");
        const CliResult r = run(queryArgs(keywords, out, {"--cookie", c.cookie}));
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(c.summary), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.advice), std::string::npos) << r.err;
        const auto rows = readTextExport(out);
        ASSERT_EQ(rows.size(), kKeywords.size());
        int marked = 0;
        for (const auto& row : rows) {
            ASSERT_EQ(row.size(), 4u);
            const bool failed = !std::isdigit(static_cast<unsigned char>(row[1].front()));
            marked += failed;
            if (failed) {
                EXPECT_TRUE(row[1] == row[2] && row[2] == row[3]) << "a mark in every value cell";
            }
        }
        EXPECT_EQ(marked, c.unknown.empty() ? 5 : static_cast<int>(c.unknown.size()));
    }
}

// Every bad input ends with one line on standard error and exit code 2, before any request
// and without touching the output.
TEST_F(CliTest, BadInputIsRefusedInOneLineBeforeAnyRequest) {
    const std::string keywords = keywordFile();
    const std::string out = path("out.xlsx");
    file("empty.txt", "");
    file("blank-cookie.txt", " \r\n\n");
    file("not-a-folder", "x");
    fs::create_directories(folder_ / "a-folder.csv");
    const std::string missing = path("missing.txt");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {queryArgs(missing, out), "keyword file '" + missing + "' does not exist"},
        {queryArgs(path("a-folder.csv"), out), "is a folder, not a file"},
        {queryArgs(path("empty.txt"), out), "holds no keywords"},
        {{"query", keywords, "-o", out, "--endpoint", service.baseUrl()},
         "no cookie: give --cookie"},
        {queryArgs(keywords, out, {"--cookie", " "}), "the cookie given with --cookie is empty"},
        {queryArgs(keywords, out, {"--cookie-file", missing}),
         "cookie file '" + missing + "' does not exist"},
        {queryArgs(keywords, out, {"--cookie-file", path("blank-cookie.txt")}), "holds no cookie"},
        {{"query", keywords, "-o", out, "--cookie", kCookie, "--cookie-file", keywords},
         "--cookie excludes --cookie-file"},
        {queryArgs(keywords, out, {"--period", "14"}),
         "unknown --period '14': choose 7, 30 or 365"},
        {queryArgs(keywords, out, {"--period", ""}), "unknown --period ''"},
        {queryArgs(keywords, out, {"--threads", "0"}),
         "--threads '0' is not a whole number from 1 to 100"},
        {queryArgs(keywords, out, {"--threads", "-3"}), "--threads '-3' is not a whole number"},
        {queryArgs(keywords, out, {"--threads", "abc"}), "--threads 'abc' is not a whole number"},
        {queryArgs(keywords, out, {"--threads", "1.5"}), "--threads '1.5' is not a whole number"},
        {queryArgs(keywords, out, {"--threads", "101"}), "--threads '101' is not a whole number"},
        {queryArgs(keywords, out, {"--threads", "99999999999"}), "is not a whole number"},
        {queryArgs(keywords, out, {"--endpoint", "ftp://127.0.0.1"}), "unusable --endpoint"},
        {queryArgs(keywords, path("out.doc")), "has no known extension"},
        {queryArgs(keywords, path("out")), "has no known extension"},
        {queryArgs(keywords, path("no-such-folder/out.csv")),
         "output folder '" + path("no-such-folder") + "' does not exist"},
        {queryArgs(keywords, path("not-a-folder/out.csv")), "is not a folder"},
        {queryArgs(keywords, path("a-folder.csv")),
         "output '" + path("a-folder.csv") + "' is a folder"},
        {queryArgs(keywords, keywords), "is the keyword file itself"},
        {{}, "A subcommand is required"},
        {{"query", keywords, "--cookie", kCookie}, "--output is required"},
        {queryArgs(keywords, out, {"--no-such-option"}), "see corvanta-cli --help"},
        {queryArgs(keywords, out, {"--progress-every", "-1"}), "--progress-every"},
        {{"test-cookie", "--endpoint", service.baseUrl()}, "no cookie"},
        {{"test-cookie", "--cookie", kCookie, "--endpoint", "localhost"}, "unusable --endpoint"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& arg : c.args)
            shown += arg + " ";
        SCOPED_TRACE(shown);
        const CliResult r = run(c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(countOf(r.err, "\n"), 1) << r.err;
        EXPECT_TRUE(r.err.starts_with("corvanta-cli: ")) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_TRUE(service.requests().empty());
    EXPECT_EQ(test::readText(keywords), lines(kKeywords)) << "the keyword file is untouched";
}

// Files and folders without permission; a root user has every permission, so the cases are
// checked only where the permission really is missing.
TEST_F(CliTest, UnreadableAndUnwritablePlacesAreRefused) {
    const std::string keywords = keywordFile();
    const std::string locked = file("locked.txt", "kw\n");
    fs::permissions(locked, fs::perms::none);
    fs::create_directories(folder_ / "read-only");
    fs::permissions(folder_ / "read-only", fs::perms::owner_read | fs::perms::owner_exec);
    if (std::ofstream(path("read-only/probe")).is_open() || std::ifstream(locked).is_open())
        GTEST_SKIP() << "running with every permission (root)";
    CliResult r = run(queryArgs(locked, path("out.csv")));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("keyword file '" + locked + "' cannot be opened"), std::string::npos)
        << r.err;
    r = run(queryArgs(keywords, path("read-only/out.csv")));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("does not take new files"), std::string::npos) << r.err;
    EXPECT_TRUE(service.requests().empty());
}

// Off a terminal, progress is a plain line every few seconds (here a fifth of a second), never
// a bar redrawn with carriage returns.
TEST_F(CliTest, ProgressIsAPlainLineEveryFewSecondsOffATerminal) {
    service.setLatencyMs(100);
    const std::string keywords = keywordFile(numbered(20));
    CliResult r =
        run(queryArgs(keywords, path("out.txt"), {"--threads", "2", "--progress-every", "0.2"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    const auto errLines = splitLines(r.err);
    ASSERT_GE(errLines.size(), 4u) << r.err;
    EXPECT_EQ(errLines.front(), "querying 20 keywords (7 days, 2 threads) at " + service.baseUrl());
    int progressLines = 0;
    int lastDone = -1;
    for (const auto& line : errLines) {
        if (!line.starts_with("progress: "))
            continue;
        ++progressLines;
        const int done = std::atoi(line.c_str() + 10);
        EXPECT_GE(done, lastDone) << line;
        lastDone = done;
        EXPECT_NE(line.find("/20 rows ("), std::string::npos) << line;
        EXPECT_NE(line.find(" failed, "), std::string::npos) << line;
        EXPECT_NE(line.find(" rows/s, "), std::string::npos) << line;
        EXPECT_TRUE(line.ends_with(" left")) << line;
    }
    EXPECT_GE(progressLines, 2) << r.err;
    EXPECT_NE(r.err.find("done: 20 rows, 20 succeeded, 0 failed"), std::string::npos);
    EXPECT_NE(r.err.find("wrote " + path("out.txt")), std::string::npos);

    service.setLatencyMs(0);
    r = run(queryArgs(keywords, path("out.txt"), {"--threads", "2", "--progress-every", "0"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("progress: "), std::string::npos) << r.err;
}

// Ctrl-C during a run: nothing more is sent, the output holds every fetched row and marks
// the others as not queried.
TEST_F(CliTest, CtrlCWritesWhatWasFetchedAndMarksTheRest) {
    service.setLatencyMs(200);
    const std::vector<std::string> words = numbered(40);
    const std::string out = path("partial.csv");
    const CliProcess process = cli();
    process.start(queryArgs(keywordFile(words), out, {"--threads", "2"}));
    ASSERT_TRUE(service.waitForRequests(6, 20s)); // at least four rows are done
    ASSERT_TRUE(process.signal("INT"));
    ASSERT_TRUE(process.waitForError(
        [](const std::string& err) {
            return err.find("interrupted: stopping") != std::string::npos;
        },
        20s));
    const std::size_t sentBeforeStop = service.requests().size();
    const auto r = process.wait(20s);
    ASSERT_TRUE(r) << "still running after Ctrl-C";
    EXPECT_EQ(r->exitCode, 130) << r->err;
    // At most the two workers' next requests, started as the stop was announced.
    EXPECT_LE(service.requests().size(), sentBeforeStop + 2) << "requests went on after Ctrl-C";

    const auto rows = readTextExport(out);
    ASSERT_EQ(rows.size(), words.size());
    int fetched = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].at(0), words[i]);
        EXPECT_TRUE(isFetchedOrNotQueried(rows[i], 7)) << rows[i].at(0) << " " << rows[i].at(1);
        fetched += rows[i].at(1) != kNotQueried;
    }
    EXPECT_GE(fetched, 4);
    EXPECT_LT(fetched, 40);
    EXPECT_NE(r->err.find("interrupted: stopping"), std::string::npos) << r->err;
    EXPECT_NE(r->err.find("stopped: 40 rows, " + std::to_string(fetched) + " succeeded, " +
                          std::to_string(40 - fetched) +
                          " failed (cookie无效 0, 请求受限 0, "
                          "失败 0, 未查询 " +
                          std::to_string(40 - fetched) + ")"),
              std::string::npos)
        << r->err;
    EXPECT_NE(r->err.find("wrote " + out), std::string::npos);
}

// Requests that hang are aborted by Ctrl-C, not waited for until their time-out (30 s).
TEST_F(CliTest, CtrlCAbortsRequestsInFlight) {
    fake::FaultConfig stall;
    stall.fault = fake::Fault::StallBeforeHeaders; // until the service stops
    service.setFault(stall);
    const std::string out = path("stalled.xlsx");
    for (const std::string signal : {"INT", "TERM"}) {
        SCOPED_TRACE(signal);
        service.clearRequests();
        fs::remove(out);
        const CliProcess process = cli();
        process.start(queryArgs(keywordFile(numbered(10)), out, {"--threads", "3"}));
        ASSERT_TRUE(service.waitForRequests(3, 20s));
        ASSERT_TRUE(process.signal(signal));
        const auto r = process.wait(15s);
        ASSERT_TRUE(r) << "Ctrl-C waited for the stalled requests";
        EXPECT_EQ(r->exitCode, 130) << r->err;
        const auto values = workbookValues(out);
        int marks = 0;
        for (const auto& [cell, value] : values)
            marks += value == kNotQueried;
        EXPECT_EQ(marks, 30) << "three marks on each of the ten rows";
    }
}

// When the output cannot be written at the end, the results still reach the user: the table
// goes to standard output and the exit code says the file is missing.
TEST_F(CliTest, AnOutputThatCannotBeWrittenIsReportedAndTheTableShown) {
    service.setLatencyMs(150);
    fs::create_directories(folder_ / "gone");
    const std::string out = path("gone/out.xlsx");
    const CliProcess process = cli();
    process.start(queryArgs(keywordFile(), out, {"--threads", "1"}));
    ASSERT_TRUE(service.waitForRequests(1, 20s));
    fs::remove_all(folder_ / "gone");
    const auto r = process.wait(20s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->exitCode, 3) << r->err;
    EXPECT_NE(r->err.find("could not write '" + out + "'"), std::string::npos) << r->err;
    for (const auto& keyword : kKeywords)
        EXPECT_NE(r->out.find(keyword), std::string::npos) << r->out;
    const auto averages = FakeIndexService::expectedAverages(kKeywords[1], 7);
    EXPECT_NE(r->out.find(std::to_string(averages.all)), std::string::npos) << r->out;
}

// --table prints the results on standard output; a keyword's control characters do not get
// through to the terminal.
TEST_F(CliTest, TheResultsTableOnStandardOutput) {
    std::vector<std::string> words = kKeywords;
    words.push_back("red\x1b[31mtext");
    const CliResult r = run(queryArgs(keywordFile(words), path("out.txt"), {"--table"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto tableLines = splitLines(r.out);
    ASSERT_EQ(tableLines.size(), words.size() + 1) << r.out;
    EXPECT_NE(tableLines[0].find("关键词"), std::string::npos);
    for (std::size_t i = 0; i < kKeywords.size(); ++i) {
        const auto averages = FakeIndexService::expectedAverages(kKeywords[i], 7);
        const std::string& line = tableLines[i + 1];
        EXPECT_TRUE(line.find(kKeywords[i]) != std::string::npos &&
                    line.ends_with(std::to_string(averages.all)))
            << line;
    }
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find("red\xEF\xBF\xBD[31mtext"), std::string::npos);
}

TEST_F(CliTest, TestCookieSaysWhatTheServiceSays) {
    const std::string pasted = file("cookie.txt", "\xEF\xBB\xBF"
                                                  "BAIDUID=x; " +
                                                      kCookie + "\r\n");
    // One cookie per line; comments and blank lines are left out.
    const std::string accounts =
        file("cookies.txt", "# two accounts\r\nBDUSS=stale\r\n\r\n" + kCookie + "\r\n");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {{"--cookie", kCookie}, 0, "验证成功，可以使用该cookie进行查询\n"},
        {{"--cookie-file", pasted}, 0, "验证成功，可以使用该cookie进行查询\n"},
        {{"--cookie", "BDUSS=stale"}, 1, "当前cookie无效，请更换！\n"},
        {{"--cookie-file", accounts},
         1,
         "cookie 1 (line 2):\n当前cookie无效，请更换！\ncookie 2 (line 4):\n"
         "验证成功，可以使用该cookie进行查询\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"test-cookie", "--endpoint", service.baseUrl()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliResult r = run(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back();
        EXPECT_EQ(r.out, c.message) << c.args.back();
    }
    const std::string base = service.baseUrl();
    service.stop();
    const CliResult r = run({"test-cookie", "--endpoint", base, "--cookie", kCookie});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.starts_with("无法验证cookie：")) << r.out;
}

TEST_F(CliTest, HelpAndVersion) {
    CliResult r = run({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "corvanta-cli " CORVANTA_TEST_VERSION "\n");
    r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* part : {"query", "test-cookie", "Exit codes"})
        EXPECT_NE(r.out.find(part), std::string::npos) << r.out;
    r = run({"query", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* part : {"--cookie-file", "--period", "--threads", "--endpoint", "--output"})
        EXPECT_NE(r.out.find(part), std::string::npos) << r.out;
}

// ---- the request forms, JSON Lines and the daily series

// The lines of a JSON Lines text, each parsed by a real JSON parser.
std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> rows;
    for (const std::string& line : splitLines(text))
        if (!line.empty())
            rows.push_back(nlohmann::json::parse(line)); // throws on a broken line
    return rows;
}

const std::string kNotIndexed = "\xE6\x9C\xAA\xE6\x94\xB6\xE5\xBD\x95"; // 未收录

// Five keywords per request give the values of one keyword per request with a fifth of the
// requests; the .jsonl rows read back with a JSON parser hold the same texts.
TEST_F(CliTest, FiveKeywordsPerRequestGiveTheSameValuesWithAFifthOfTheRequests) {
    const std::vector<std::string> words = numbered(23, "\xE8\xAF\x8D"); // 词0..词22
    const std::string keywords = keywordFile(words);
    CliResult r = run(queryArgs(keywords, path("single.jsonl"), {"--period", "30"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::size_t singleRequests = service.requests().size();
    EXPECT_EQ(singleRequests, words.size());
    service.clearRequests();
    r = run(queryArgs(keywords, path("grouped.jsonl"),
                      {"--period", "30", "--request-form", "list", "--per-request", "5"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(service.requests().size(), 5u) << "23 keywords in groups of five";
    for (const auto& request : service.requests())
        EXPECT_TRUE(request.requestLine.starts_with("POST /api/SearchApi/index?word=%5B%5B%7B"))
            << request.requestLine;

    const auto single = jsonLines(test::readText(path("single.jsonl")));
    const auto grouped = jsonLines(test::readText(path("grouped.jsonl")));
    ASSERT_EQ(single.size(), words.size());
    EXPECT_EQ(single, grouped);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto expected = FakeIndexService::expectedAverages(words[i], 30);
        EXPECT_EQ(grouped[i]["keyword"], words[i]);
        EXPECT_EQ(grouped[i]["pc"], std::to_string(expected.pc));
        EXPECT_EQ(grouped[i]["mobile"], std::to_string(expected.wise));
        EXPECT_EQ(grouped[i]["overall"], std::to_string(expected.all));
        EXPECT_EQ(grouped[i]["status"], "ok");
        EXPECT_EQ(grouped[i]["reason"], "");
        EXPECT_FALSE(grouped[i].contains("pc_yoy")) << "trends only with --trends";
    }
}

// --trends adds six columns after the four in a workbook, and six fields in JSON Lines.
TEST_F(CliTest, TrendColumnsFollowTheFourInEveryFormat) {
    const std::string keywords = keywordFile();
    const std::string out = path("trends.xlsx");
    CliResult r = run(queryArgs(keywords, out, {"--trends", "--days", "90"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto values = workbookValues(out);
    const auto cell = [&](const std::string& ref) {
        for (const auto& [key, value] : values)
            if (key.ends_with("!" + ref))
                return value;
        return std::string("<none>");
    };
    const std::vector<std::string> titles = {"关键词",     "PC指数",     "移动指数", "总指数",
                                             "总指数同比", "总指数环比", "PC同比",   "PC环比",
                                             "移动同比",   "移动环比"};
    for (std::size_t c = 0; c < titles.size(); ++c)
        EXPECT_EQ(cell(std::string(1, static_cast<char>('A' + c)) + "1"), titles[c]);
    for (std::size_t row = 0; row < kKeywords.size(); ++row) {
        const auto a = FakeIndexService::expectedAverages(kKeywords[row], 90);
        const std::string n = std::to_string(row + 2);
        EXPECT_EQ(cell("A" + n), kKeywords[row]);
        EXPECT_EQ(cell("D" + n), std::to_string(a.all));
        const int trends[] = {a.allYoy, a.allQoq, a.pcYoy, a.pcQoq, a.wiseYoy, a.wiseQoq};
        for (int t = 0; t < 6; ++t)
            EXPECT_EQ(cell(std::string(1, static_cast<char>('E' + t)) + n),
                      std::to_string(trends[t]))
                << kKeywords[row] << " column " << t;
    }

    r = run(queryArgs(keywords, "-", {"--trends"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto rows = jsonLines(r.out);
    ASSERT_EQ(rows.size(), kKeywords.size());
    const auto a = FakeIndexService::expectedAverages(kKeywords[0], 7);
    EXPECT_EQ(rows[0]["overall_yoy"], std::to_string(a.allYoy));
    EXPECT_EQ(rows[0]["mobile_qoq"], std::to_string(a.wiseQoq));
}

// A keyword the service does not index is "未收录", found by its 10002 answer or by
// checkWordsExists before any query; the other rows keep their values.
TEST_F(CliTest, AnUnindexedKeywordIsMarkedWithAndWithoutCheckWords) {
    service.setUnknownKeywords({"python"});
    const std::string keywords = keywordFile();
    struct Case {
        const char* name;
        std::vector<std::string> more;
        std::size_t indexRequests;
        std::size_t checkRequests;
    };
    const Case cases[] = {
        {"10002 answer", {}, 5, 0},
        {"10002 answer in a group", {"--request-form", "list", "--per-request", "5"}, 6, 0},
        {"checkWordsExists", {"--check-words"}, 4, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.clearRequests();
        const CliResult r = run(queryArgs(keywords, "-", c.more));
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("未收录 1"), std::string::npos) << r.err;
        const auto rows = jsonLines(r.out);
        ASSERT_EQ(rows.size(), kKeywords.size());
        for (const auto& row : rows) {
            const bool unindexed = row["keyword"] == "python";
            EXPECT_EQ(row["status"], unindexed ? kNotIndexed : "ok") << row.dump();
            if (unindexed) {
                EXPECT_EQ(row["overall"], kNotIndexed);
            }
        }
        std::size_t index = 0, check = 0;
        for (const auto& request : service.requests()) {
            index += request.target.starts_with("/api/SearchApi/index?");
            check += request.target.starts_with("/api/AddWordApi/checkWordsExists?");
        }
        EXPECT_EQ(index, c.indexRequests);
        EXPECT_EQ(check, c.checkRequests);
    }
}

// The service's demand for browser headers (10018) is met with --header; a header line that
// could split the request is refused before anything is sent.
TEST_F(CliTest, HeadersAreSentAsGivenAndBrokenOnesRefused) {
    service.setRequiredHeader("Cipher-Text", "abc123");
    const std::string keywords = keywordFile({"a"});
    CliResult r = run(queryArgs(keywords, "-"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("--header"), std::string::npos) << r.out;
    r = run(queryArgs(keywords, "-",
                      {"--header", "Cipher-Text: abc123", "--header", "Referer: https://x/"}));
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out;

    service.clearRequests();
    r = run(queryArgs(keywords, path("out.csv"), {"--header", "X-A: 1\r\nX-Injected: 1"}));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("cannot be sent"), std::string::npos) << r.err;
    EXPECT_TRUE(service.requests().empty());
}

// Every new option is checked before anything is sent.
TEST_F(CliTest, BadFormsDatesAndCountsAreRefusedWithExitCodeTwo) {
    const std::string keywords = keywordFile();
    const std::string out = path("out.csv");
    struct Case {
        std::vector<std::string> more;
        std::string message;
    };
    const Case cases[] = {
        {{"--from", "2024-02-30", "--to", "2024-03-01"}, "--from '2024-02-30' is not a real date"},
        {{"--from", "2024-01-01", "--to", "2024/03/01"}, "--to '2024/03/01' is not a real date"},
        {{"--from", "2024-03-02", "--to", "2024-03-01"}, "--from 2024-03-02 is after --to"},
        {{"--from", "2024-03-01"}, "--from needs --to"},
        {{"--to", "2024-03-01"}, "--to needs --from"},
        {{"--from", "2024-01-01", "--to", "2024-02-01", "--days", "3"}, "--days cannot be given"},
        {{"--period", "30", "--days", "3"}, "--period cannot be given with --days"},
        {{"--days", "0"}, "--days '0' is not a positive whole number"},
        {{"--days", "-4"}, "--days '-4' is not a positive whole number"},
        {{"--request-form", "list", "--per-request", "6"},
         "--per-request '6' is not a whole number from 1 to 5"},
        {{"--request-form", "list", "--per-request", "0"}, "--per-request '0'"},
        {{"--request-form", "list", "--per-request", "x"}, "--per-request 'x'"},
        {{"--per-request", "3"}, "needs --request-form list"},
        {{"--request-form", "json"}, "unknown --request-form 'json'"},
        {{"--area", "beijing"}, "--area 'beijing' is not a region code"},
        {{"--header", "NoColon"}, "--header 'NoColon' cannot be sent"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& arg : c.more)
            shown += arg + " ";
        SCOPED_TRACE(shown);
        const CliResult r = run(queryArgs(keywords, out, c.more));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(countOf(r.err, "\n"), 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
    for (const auto& more : std::vector<std::vector<std::string>>{
             {"--from", "2024-13-01", "--to", "2024-12-31"},
             {"--from", "2024-03-01"},
             {"--from", "2024-01-01", "--to", "2024-01-02", "-o", path("series.txt")}}) {
        std::vector<std::string> args = {"series",   keywords, "-o",         path("series.csv"),
                                         "--cookie", kCookie,  "--endpoint", service.baseUrl()};
        args.insert(args.end(), more.begin(), more.end());
        const CliResult r = run(args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_TRUE(r.err.starts_with("corvanta-cli: ")) << r.err;
    }
    EXPECT_TRUE(service.requests().empty());
}

// The daily series: windows of at most 300 days joined, every figure the fake service's
// own, an empty day empty (null in JSON Lines, an empty field in a text file).
TEST_F(CliTest, TheDailySeriesIsDecodedJoinedAndWrittenAsIs) {
    const std::vector<std::string> words = {kKeywords[0], "python"};
    const std::string keywords = keywordFile(words);
    CliResult r = run({"series", keywords, "-o", path("series.jsonl"), "--from", "2023-06-01",
                       "--to", "2024-06-30", "--cookie", kCookie, "--endpoint", service.baseUrl()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const int days = 396; // 2023-06-01 .. 2024-06-30: two windows
    std::size_t indexRequests = 0;
    for (const auto& request : service.requests())
        indexRequests += request.target.starts_with("/api/SearchApi/index?");
    EXPECT_EQ(indexRequests, 4u);
    const auto rows = jsonLines(test::readText(path("series.jsonl")));
    ASSERT_EQ(rows.size(), words.size() * days);
    int nulls = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        const std::string& keyword = words[i / days];
        EXPECT_EQ(row["keyword"], keyword);
        const std::string date = row["date"];
        const std::pair<const char*, fake::Series> series[] = {{"overall", fake::Series::All},
                                                               {"pc", fake::Series::Pc},
                                                               {"mobile", fake::Series::Wise}};
        for (const auto& [name, which] : series) {
            const auto expected = FakeIndexService::dailyFigure(keyword, date, which);
            if (expected) {
                EXPECT_EQ(row[name], *expected) << date << " " << name;
            } else {
                EXPECT_TRUE(row[name].is_null()) << date << " " << name;
                ++nulls;
            }
        }
    }
    EXPECT_EQ(rows.front()["date"], "2023-06-01");
    EXPECT_EQ(rows[days - 1]["date"], "2024-06-30");
    EXPECT_EQ(rows[299]["date"], "2024-03-26");
    EXPECT_EQ(rows[300]["date"], "2024-03-27");
    EXPECT_GT(nulls, 0);

    // The same rows in a text file: an empty figure is an empty field, never 0.
    r = run({"series", keywords, "-o", path("series.csv"), "--from", "2024-01-01", "--to",
             "2024-01-31", "--cookie", kCookie, "--endpoint", service.baseUrl()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = readTextExport(path("series.csv"));
    ASSERT_EQ(lines.size(), words.size() * 31);
    for (const auto& fields : lines) {
        ASSERT_EQ(fields.size(), 5u);
        const auto expected = FakeIndexService::dailyFigure(fields[0], fields[1], fake::Series::Pc);
        EXPECT_EQ(fields[3], expected ? std::to_string(*expected) : "") << fields[1];
    }
}

// An empty key or a short series fails that keyword (after asking again), and leaves no
// rows of it; an empty key that a second attempt replaces costs nothing.
TEST_F(CliTest, ASeriesThatCannotBeDecodedIsAFailureNeverNumbers) {
    const std::string keywords = keywordFile({"a"});
    const std::vector<std::string> args = {
        "series", keywords,     "-o",       "-",     "--from",     "2024-01-01",
        "--to",   "2024-01-10", "--cookie", kCookie, "--endpoint", service.baseUrl()};
    service.setEmptyKeyAnswers(2); // the first attempt's both addresses
    CliResult r = run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(jsonLines(r.out).size(), 10u);

    service.setEmptyKeyAnswers(1000);
    r = run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("解码密钥为空"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 keywords, 0 succeeded, 1 failed"), std::string::npos) << r.err;

    service.setEmptyKeyAnswers(0);
    service.setSeriesDaysDropped(2);
    r = run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("8"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

} // namespace
} // namespace corvanta

namespace corvanta {
namespace {

// Long runs: retries, several cookies, pacing, resume and requery.
class LongRunCliTest : public CliTest {
protected:
    // Every row of a text export holds its keyword's averages.
    void expectEveryRowAValue(const std::string& out, const std::vector<std::string>& words) {
        const auto rows = readTextExport(out);
        ASSERT_EQ(rows.size(), words.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].at(0), words[i]);
            const auto averages = FakeIndexService::expectedAverages(words[i], 7);
            EXPECT_EQ(rows[i].at(3), std::to_string(averages.all)) << words[i];
        }
    }
    // How often each keyword was asked for.
    std::map<std::string, int> requestsByKeyword() const {
        std::map<std::string, int> counts;
        for (const auto& request : service.requests()) {
            const auto start = request.requestLine.find("word=") + 5;
            const auto end = request.requestLine.find('&', start);
            std::string word;
            const std::string encoded = request.requestLine.substr(start, end - start);
            for (std::size_t i = 0; i + 2 < encoded.size() + 1; i += 3)
                word += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
            ++counts[word];
        }
        return counts;
    }
};

TEST_F(LongRunCliTest, RetriesTurnTransientFailuresIntoValues) {
    fake::AccountRules rules;
    rules.transientShare = 0.2;
    service.setAccountRules(rules);
    const std::vector<std::string> words = numbered(50);
    const std::string out = path("retried.csv");
    const CliResult r =
        run(queryArgs(keywordFile(words), out, {"--retries", "3", "--retry-wait", "20"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(service.transientAnswers(), 0);
    expectEveryRowAValue(out, words);
    EXPECT_FALSE(fs::exists(out + ".journal")) << "a finished run leaves no journal";
}

TEST_F(LongRunCliTest, AnExpiredCookiesRowsGoToTheOtherAndItIsReportedOnce) {
    service.setAcceptedCookie("");
    fake::AccountRules rules;
    rules.expireAfter["BDUSS=first"] = 3;
    service.setAccountRules(rules);
    const std::string cookies = file("cookies.txt", "BDUSS=first\nBDUSS=second\n");
    const std::vector<std::string> words = numbered(30);
    const std::string out = path("two.csv");
    const CliResult r = run(queryArgs(keywordFile(words), out, {"--cookie-file", cookies}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    expectEveryRowAValue(out, words);
    EXPECT_EQ(countOf(r.err, "cookie 1 (line 1 of the cookie file) is not logged in"), 1) << r.err;
    EXPECT_EQ(r.err.find("BDUSS=first"), std::string::npos) << "a cookie's text in the log";
}

TEST_F(LongRunCliTest, APaceBelowTheLimitGetsNoBlockAndNoCookieLeftStopsTheRun) {
    service.setAcceptedCookie("");
    fake::AccountRules rules;
    rules.requestsPerSecond = 10;
    service.setAccountRules(rules);
    const std::string cookies = file("cookies.txt", "# accounts\nBDUSS=a\n\nBDUSS=b\n");
    const std::vector<std::string> words = numbered(30);
    const std::string paced = path("paced.csv");
    CliResult r = run(queryArgs(keywordFile(words), paced,
                                {"--cookie-file", cookies, "--rate", "8", "--threads", "4"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(service.blockedAnswers(), 0);
    expectEveryRowAValue(paced, words);

    // Without a pace both accounts are soon blocked: the rest is not queried, and why is said.
    rules.requestsPerSecond = 2;
    service.setAccountRules(rules);
    const std::string unpaced = path("unpaced.csv");
    r = run(queryArgs(keywordFile(numbered(60, "u")), unpaced, {"--cookie-file", cookies}));
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("no usable cookie is left"), std::string::npos) << r.err;
    EXPECT_EQ(countOf(r.err, "warning: the service limits each account"), 1) << r.err;
    int notQueried = 0;
    for (const auto& row : readTextExport(unpaced))
        notQueried += row.at(1) == kNotQueried;
    EXPECT_GT(notQueried, 0);
}

// A run killed outright resumes from its journal: the output is that of a whole run, and no
// row is asked again but those that were in flight.
TEST_F(LongRunCliTest, AKilledRunResumesFromItsJournal) {
    service.setLatencyMs(40);
    const std::vector<std::string> words = numbered(80);
    const std::string keywords = keywordFile(words);
    const std::string out = path("resumed.csv");
    const CliProcess process = cli();
    process.start(queryArgs(keywords, out, {"--threads", "3"}));
    ASSERT_TRUE(service.waitForRequests(25, 30s));
    ASSERT_TRUE(process.signal("KILL"));
    ASSERT_TRUE(process.wait(20s));
    ASSERT_TRUE(fs::exists(out + ".journal"));
    EXPECT_FALSE(fs::exists(out));

    service.setLatencyMs(0);
    const CliResult r = run(queryArgs(keywords, out, {"--resume", "--threads", "3"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("resuming: "), std::string::npos) << r.err;
    expectEveryRowAValue(out, words);
    int askedTwice = 0;
    for (const auto& [word, count] : requestsByKeyword()) {
        EXPECT_LE(count, 2) << word;
        askedTwice += count > 1;
    }
    EXPECT_LE(askedTwice, 3) << "only the rows in flight at the kill are asked again";
    EXPECT_FALSE(fs::exists(out + ".journal"));
}

TEST_F(LongRunCliTest, RequeryAsksAgainOnlyForTheMarkedRows) {
    fake::AccountRules rules;
    rules.transientShare = 0.3;
    service.setAccountRules(rules);
    const std::vector<std::string> words = numbered(40);
    for (const char* extension : {".xlsx", ".csv"}) {
        SCOPED_TRACE(extension);
        service.setAccountRules({});
        service.setAccountRules(rules);
        const std::string first = path(std::string("first") + extension);
        CliResult r = run(queryArgs(keywordFile(words), first));
        ASSERT_EQ(r.exitCode, extension == std::string(".xlsx") ? 1 : 0) << r.err;
        service.clearRequests();
        const std::string merged = path("merged.csv");
        r = run(
            {"requery", first, "-o", merged, "--cookie", kCookie, "--endpoint", service.baseUrl()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        expectEveryRowAValue(merged, words);
        if (extension == std::string(".xlsx")) {
            EXPECT_GT(service.requests().size(), 0u);
            EXPECT_LT(service.requests().size(), words.size());
        } else {
            EXPECT_EQ(service.requests().size(), 0u) << "nothing failed: nothing is asked";
        }
    }
}

} // namespace
} // namespace corvanta
