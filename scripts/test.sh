#!/usr/bin/env bash
# Sets up, builds and runs every test suite, then the sanitizer runs and the fuzzers:
#   default  the normal build and every suite
#   asan     every suite again under the address and undefined-behaviour sanitizers
#   tsan     every suite that starts threads (all but util) under the thread sanitizer
#   fuzz     each libFuzzer target for FUZZ_SECONDS (default 30)
# Give stage names to run only those: bash scripts/test.sh default tsan
set -euo pipefail
cd "$(dirname "$0")/.."
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(default asan tsan fuzz)
bash scripts/setup.sh
began=$SECONDS
for stage in "${stages[@]}"; do
    started=$SECONDS
    case "$stage" in
    default | asan | tsan)
        cmake --preset "$stage"
        cmake --build --preset "$stage" --parallel 2
        ctest --preset "$stage"
        ;;
    fuzz)
        bash scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
        ;;
    *)
        echo "unknown stage: $stage (default, asan, tsan or fuzz)" >&2
        exit 2
        ;;
    esac
    echo "== stage $stage took $((SECONDS - started)) s"
done
echo "== all stages took $((SECONDS - began)) s"
