#!/usr/bin/env bash
# Sets up, builds and runs every test suite: the normal build, then the worker pool
# tests (only those) again under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
cmake --preset tsan
cmake --build --preset tsan --target pool_tests
ctest --preset tsan
