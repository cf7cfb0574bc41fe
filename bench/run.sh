#!/usr/bin/env bash
# Builds the benchmarks, runs every one of them RUNS times (default 3) and prints one table
# of medians with their goals and ratios, the machine included:
#     bash bench/run.sh [RUNS]
# Give the machine to the benchmarks alone: other work on its cores shows in the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-3}"
cmake --preset default >/dev/null
cmake --build --preset default --parallel 2 --target pool_bench export_bench web_bench \
    util_bench app_bench corvanta-cli corvanta-fake-index >/dev/null
python3 bench/run.py build/default "$runs"
