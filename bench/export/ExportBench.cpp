// Exports a list of 100,000 keywords to each file type: time per export against its goal
// (text under 0.2 s, .xlsx under 1 s, .xls under 0.5 s) and, measured in a child process per
// type, how much the export raises peak memory.

#include "export/ListSource.h"
#include "export/TableExport.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace corvanta;
namespace fs = std::filesystem;

constexpr int listRows = 100000;
const std::string titles = "关键词|PC指数|移动指数|总指数";

// The results list of a finished query run, held the way the window holds it.
class BenchTable : public ListSource {
public:
    explicit BenchTable(int rows) {
        cells_.reserve(static_cast<std::size_t>(rows));
        for (int i = 0; i < rows; ++i) {
            const int pc = (i * 37) % 5000;
            const int mobile = (i * 91) % 20000;
            cells_.push_back({std::to_string(i + 1), "关键词示例" + std::to_string(i),
                              i % 10 == 0 ? "" : std::to_string(pc), std::to_string(mobile),
                              std::to_string(pc + mobile)});
        }
    }
    int rowCount() const override { return static_cast<int>(cells_.size()); }
    int listColumnCount() const override { return 5; }
    std::string columnTitle(int column) const override {
        static const char* const names[] = {"序号", "关键词", "PC指数", "移动指数", "总指数"};
        return column >= 0 && column < 5 ? names[column] : "";
    }
    std::string cellText(int row, int column) const override {
        return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    }

private:
    std::vector<std::vector<std::string>> cells_;
};

const BenchTable& table() {
    static const BenchTable instance(listRows);
    return instance;
}

std::string outputPath(const std::string& extension) {
    return (fs::temp_directory_path() /
            ("corvanta-export-bench-" + std::to_string(getpid()) + "." + extension))
        .string();
}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void exportBenchmark(benchmark::State& state, const std::string& extension, double goalSeconds) {
    const BenchTable& list = table();
    const std::string path = outputPath(extension);
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const ExportResult result = exportTable(list, path, titles);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!result.ok) {
            state.SkipWithError(("export failed: " + result.error).c_str());
            break;
        }
    }
    if (state.iterations() > 0) {
        const double mean = total / static_cast<double>(state.iterations());
        state.counters["vs_goal"] = mean / goalSeconds; // below 1 meets the goal
        state.counters["rows_per_s"] = listRows / mean;
        std::error_code ec;
        state.counters["file_MB"] = static_cast<double>(fs::file_size(path, ec)) / 1e6;
    }
    std::error_code ec;
    fs::remove(path, ec);
}

void BM_ExportTxt(benchmark::State& state) {
    exportBenchmark(state, "txt", 0.2);
}
void BM_ExportCsv(benchmark::State& state) {
    exportBenchmark(state, "csv", 0.2);
}
void BM_ExportXlsx(benchmark::State& state) {
    exportBenchmark(state, "xlsx", 1.0);
}
void BM_ExportXls(benchmark::State& state) {
    exportBenchmark(state, "xls", 0.5);
}

BENCHMARK(BM_ExportTxt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportCsv)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportXlsx)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportXls)->Unit(benchmark::kMillisecond)->UseRealTime();

// Peak memory is per process, so each file type is exported once in a child of its own:
// the rise of the child's peak over the peak with the list alone is what the export costs.
void reportPeakMemory() {
    std::printf("Peak memory of one export of %d rows (list already in memory):\n", listRows);
    for (const char* extension : {"txt", "csv", "xlsx", "xls"}) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            table();
            const long before = peakKilobytes();
            const std::string path = outputPath(extension);
            const ExportResult result = exportTable(table(), path, titles);
            const long after = peakKilobytes();
            std::error_code ec;
            fs::remove(path, ec);
            if (result.ok)
                std::printf("  %-5s list %6.1f MB, export adds %6.1f MB\n", extension,
                            before / 1024.0, (after - before) / 1024.0);
            else
                std::printf("  %-5s export failed: %s\n", extension, result.error.c_str());
            std::fflush(stdout);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    reportPeakMemory();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
