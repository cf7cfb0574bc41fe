#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset: clang with address and undefined-behaviour
# sanitizers) and runs each for SECONDS (default 30), starting from its seed corpus in
# fuzz/corpus/TARGET. New inputs go to a scratch folder, never into the repository; a
# failing input is kept as build/fuzz/crash-TARGET-* and ends the script with an error.
# The random seed is fixed (FUZZ_SEED, default 1) so that a run repeats the inputs of the
# runs before it: CI explores what was explored here, and a failure can be reproduced.
#     bash scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    # fuzz_xlsx and fuzz_xls (the workbook writers, read back through Python) run only
    # when named: their reader now and then ends with status 1 and no output, cause unknown.
    targets=(fuzz_text_search fuzz_regex fuzz_headers fuzz_cookies fuzz_response fuzz_keywords)
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --parallel 2 --target "${targets[@]}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failed=0
for target in "${targets[@]}"; do
    mkdir -p "$scratch/$target"
    echo "== $target: ${seconds} s"
    if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "build/fuzz/fuzz/$target" -max_total_time="$seconds" -seed="${FUZZ_SEED:-1}" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/crash-$target-" \
        "$scratch/$target" "fuzz/corpus/$target" 2>"$scratch/$target.log"; then
        tail -40 "$scratch/$target.log"
        failed=1
    else
        grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$scratch/$target.log" || true
    fi
done
exit "$failed"
