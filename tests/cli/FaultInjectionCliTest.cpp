// corvanta-cli against the fake service's mixed faults: 1,000 keywords on 4 threads, each fault
// given to a share of them, the request-size fault as a chunked body of 512 MiB whose length is
// never announced. The process ends by itself with every row written, the failed ones
// marked, and its memory stays bounded (the program's own requests stop reading at 16 MiB).
#include "CliRunner.h"
#include "FakeIndexService.h"
#include "util/Platform.h"

#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sstream>

namespace corvanta {
namespace {

using fake::FakeIndexService;
using fake::Fault;
namespace fs = std::filesystem;

const std::string kFailed = "\xE5\xA4\xB1\xE8\xB4\xA5";                          // 失败
const std::string kBlocked = "\xE8\xAF\xB7\xE6\xB1\x82\xE5\x8F\x97\xE9\x99\x90"; // 请求受限

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true; // the sanitizers' own memory makes the bound meaningless
#else
constexpr bool kSanitized = false;
#endif

TEST(FaultInjectionCli, AThousandKeywordsEndWrittenAndMarkedInBoundedMemory) {
    FakeIndexService::Options options;
    options.keepRequests = false;
    FakeIndexService service(options);
    ASSERT_TRUE(service.start());
    fake::FaultConfig mixed;
    mixed.fault = Fault::Mixed;
    mixed.stallMs = 300; // the batch mode waits 30 s for a silent service; the fake closes first
    mixed.oversizedBytes = 512u << 20;
    mixed.oversizedChunked = true;
    service.setFault(mixed);

    std::random_device seed;
    const fs::path folder =
        fs::temp_directory_path() / ("corvanta-faults-" + std::to_string(seed()));
    fs::create_directories(folder);
    std::string keywordText;
    std::map<std::string, int> expectedMarks; // mark -> rows
    for (int i = 0; i < 1000; ++i) {
        const std::string keyword = "fault" + std::to_string(i);
        keywordText += keyword + "\n";
        const Fault fault = FakeIndexService::mixedFaultFor(keyword);
        if (fault == Fault::RateLimited)
            ++expectedMarks[kBlocked];
        else if (fault != Fault::None && fault != Fault::MissingSeries)
            ++expectedMarks[kFailed];
    }
    std::ofstream(folder / "keywords.txt", std::ios::binary) << keywordText;
    const fs::path out = folder / "out.csv";
    const fs::path rss = folder / "rss.txt";

    const bool timed = fs::exists("/usr/bin/time");
    std::string command =
        timed ? "/usr/bin/time -f %M -o " + test::shellQuoted(rss.string()) + " " : std::string();
    command += test::shellQuoted(CORVANTA_CLI_PATH) + " query " +
               test::shellQuoted((folder / "keywords.txt").string()) + " -o " +
               test::shellQuoted(out.string()) +
               " --cookie BDUSS=corvanta-demo --threads 4 --progress-every 0 --endpoint " +
               service.baseUrl() + " >/dev/null 2>" + test::shellQuoted((folder / "err").string()) +
               " </dev/null";
    command += "; echo $? >" + test::shellQuoted((folder / "rc").string());
    std::system(command.c_str());
    const std::string err = test::readText(folder / "err");
    // Exit code 1: some rows failed; a crash would give a signal's code instead.
    EXPECT_EQ(std::atoi(test::readText(folder / "rc").c_str()), 1) << err;

    const auto text =
        platform::convertCharset(test::readText(out), platform::legacyCharset, "UTF-8");
    ASSERT_TRUE(text.has_value());
    std::map<std::string, int> marks;
    int rows = 0;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.back() == '|') // every field ends with a bar
            line.pop_back();
        if (line.empty())
            continue;
        ++rows;
        const std::string keyword = line.substr(0, line.find('|'));
        const Fault fault = FakeIndexService::mixedFaultFor(keyword);
        const auto avg = FakeIndexService::expectedAverages(keyword, 7);
        const std::string values =
            std::to_string(avg.pc) + "|" + std::to_string(avg.wise) + "|" + std::to_string(avg.all);
        const std::string rest = line.substr(line.find('|') + 1);
        if (fault == Fault::None) {
            EXPECT_EQ(rest, values) << keyword;
        } else if (fault == Fault::MissingSeries) {
            EXPECT_EQ(rest, "0|" + std::to_string(avg.wise) + "|" + std::to_string(avg.all))
                << keyword;
        } else {
            const std::string mark = rest.substr(0, rest.find('|'));
            EXPECT_EQ(rest, mark + "|" + mark + "|" + mark) << keyword;
            ++marks[mark];
        }
    }
    EXPECT_EQ(rows, 1000);
    EXPECT_EQ(marks, expectedMarks);

    if (timed && !kSanitized) {
        // Peak resident memory in KiB. Each of the 4 workers may hold a body of up to 16 MiB
        // (twice that while it grows, and the allocator keeps some of it after); reading
        // even one 512 MiB body would pass the bound.
        // Its last line (a line before it says the exit code was not 0).
        std::string report = test::readText(rss);
        while (!report.empty() && report.back() == '\n')
            report.pop_back();
        const long peakKiB = std::atol(report.substr(report.rfind('\n') + 1).c_str());
        EXPECT_GT(peakKiB, 0);
        EXPECT_LT(peakKiB, 300L * 1024) << "peak resident memory " << peakKiB / 1024 << " MiB";
        std::printf("peak resident memory of corvanta-cli: %ld MiB\n", peakKiB / 1024);
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
}

} // namespace
} // namespace corvanta
