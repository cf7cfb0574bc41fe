// Global matching over large subjects: every match of a one-character pattern over 1 MB,
// for a well-formed subject and for one holding stray legacy bytes. The goal is well under
// 50 ms per run for 1 MB.

#include "util/RegexMatcher.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

void globalMatch(benchmark::State& state, std::string subject) {
    corvanta::RegexMatcher matcher;
    for (auto _ : state) {
        const bool ok = matcher.execute("a", subject);
        benchmark::DoNotOptimize(ok);
        if (!ok || matcher.matchCount() == 0)
            state.SkipWithError("matching failed");
    }
    state.counters["matches"] = matcher.matchCount();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(subject.size()));
}

void ValidSubject(benchmark::State& state) {
    globalMatch(state, std::string(static_cast<size_t>(state.range(0)), 'a'));
}

void SubjectWithStrayBytes(benchmark::State& state) {
    std::string subject(static_cast<size_t>(state.range(0)), 'a');
    for (size_t i = 1000; i < subject.size(); i += 1000)
        subject[i] = '\xFF';
    globalMatch(state, subject);
}

void MetaTagInLargePage(benchmark::State& state) {
    std::string subject(static_cast<size_t>(state.range(0)), 'x');
    subject.replace(subject.size() / 2, 20, "<meta charset=utf-8>");
    corvanta::RegexMatcher matcher;
    for (auto _ : state) {
        benchmark::DoNotOptimize(matcher.execute("<meta.+?charset=[^\\w]?([-\\w]+)", subject));
    }
}

} // namespace

BENCHMARK(ValidSubject)->Arg(256 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(SubjectWithStrayBytes)->Arg(256 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(MetaTagInLargePage)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
