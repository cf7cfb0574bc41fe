#!/usr/bin/env bash
# The demo: installs what is missing, builds the batch mode and the fake index service
# (reusing an earlier build), starts the fake service on a free loopback port, queries the
# sample keywords with corvanta-cli, writes samples/keywords.xlsx, prints the results table
# and stops the service. The numbers come from the local stand-in, not from the real service.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
[ -f build/default/build.ninja ] || cmake --preset default
cmake --build --preset default --target corvanta-cli corvanta-fake-index

cli=build/default/src/cli/corvanta-cli
fake=build/default/fake/corvanta-fake-index
keywords=samples/keywords.txt
output=samples/keywords.xlsx
cookie=BDUSS=corvanta-demo

# The fake service prints its address first; port 0 lets the system pick a free one.
fake_log=$(mktemp)
"$fake" --port 0 --quiet --latency-ms 120 --accept-cookie "$cookie" >"$fake_log" 2>&1 &
fake_pid=$!
stop_fake() {
    kill "$fake_pid" 2>/dev/null || true
    wait "$fake_pid" 2>/dev/null || true
    rm -f "$fake_log"
}
trap stop_fake EXIT

url=""
for _ in $(seq 200); do
    url=$(head -n 1 "$fake_log")
    [ -n "$url" ] && break
    kill -0 "$fake_pid" 2>/dev/null || break
    sleep 0.05
done
if [ -z "$url" ]; then
    echo "demo: the fake index service did not start:" >&2
    cat "$fake_log" >&2
    exit 1
fi

cat <<NOTE

=====================================================================================
 DEMO: the numbers below are MADE UP. They come from corvanta-fake-index, a local
 stand-in of the Baidu Index service at $url, not from the real service.
=====================================================================================

NOTE
echo "\$ corvanta-cli query $keywords -o $output --endpoint $url --cookie $cookie --threads 8 --table"
status=0
"$cli" query "$keywords" -o "$output" --endpoint "$url" --cookie "$cookie" --threads 8 \
    --progress-every 1 --table || status=$?

cat <<NOTE

Results written to $output (made-up numbers from the local stand-in service).
Against the real service: corvanta-cli query KEYWORDS -o OUT.xlsx --cookie-file COOKIE.txt
NOTE
exit "$status"
