#!/usr/bin/env bash
# Pacing against a service that limits each account: KEYWORDS keywords (default 10,000)
# through corvanta-cli with 3 cookies at --rate 18, the fake index service blocking any
# cookie that sends more than 20 requests in a second. Prints rows per second against the
# 54 the pace allows (goal: at least 0.9 of it) and how many requests were blocked (goal: 0).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${CORVANTA_BUILD:-build/default}
keywords=${KEYWORDS:-10000}
work=$(mktemp -d)
trap 'kill "$fake" 2>/dev/null || true; rm -rf "$work"' EXIT

for ((i = 0; i < keywords; i++)); do echo "keyword$i"; done >"$work/keywords.txt"
printf 'BDUSS=account-one\nBDUSS=account-two\nBDUSS=account-three\n' >"$work/cookies.txt"

"$build/fake/corvanta-fake-index" --port 0 --accept-cookie "" --rate-limit 20 --quiet \
    >"$work/fake.out" 2>"$work/fake.err" &
fake=$!
for _ in $(seq 100); do [ -s "$work/fake.out" ] && break; sleep 0.05; done
endpoint=$(head -n 1 "$work/fake.out")

start=$(date +%s.%N)
"$build/src/cli/corvanta-cli" query "$work/keywords.txt" -o "$work/out.csv" \
    --cookie-file "$work/cookies.txt" --rate 18 --threads 15 --endpoint "$endpoint" \
    --progress-every 30 2>"$work/cli.err" || true
end=$(date +%s.%N)
kill -INT "$fake"
wait "$fake" 2>/dev/null || true

tail -n 3 "$work/cli.err"
blocked=$(sed -n 's/^account rules: \([0-9]*\) blocked.*/\1/p' "$work/fake.err")
awk -v n="$keywords" -v s="$start" -v e="$end" -v b="$blocked" 'BEGIN {
    rate = n / (e - s);
    printf "pacing: %d keywords in %.1f s: %.1f rows/s of the 54 allowed, ratio %.2f (goal 0.90); %s blocked (goal 0)\n",
           n, e - s, rate, rate / 54, b
}'
