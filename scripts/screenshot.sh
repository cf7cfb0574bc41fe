#!/usr/bin/env bash
# Saves docs/window.png: the window with sample rows queried from the fake index service,
# drawn on Qt's offscreen platform (no display needed). Optional argument: a keyword file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target window_screenshot
mkdir -p docs
build/default/tests/app/window_screenshot docs/window.png "${1:-}"
