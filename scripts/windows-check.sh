#!/usr/bin/env bash
# Cross-builds the Qt-free core for 64-bit Windows with mingw-w64 and runs its portable test
# suites as Windows executables under Wine:
#   - builds GoogleTest and the parts that need no library (pool, util without the regex
#     matcher, query text, the .txt/.csv/.xls writers, date-time, stopwatch) and runs their
#     suites, printing each suite's closing line;
#   - compiles the parts that need libcurl, PCRE2 or libxlsxwriter against those libraries'
#     headers (Debian has no Windows builds of them);
#   - writes the same sample exports and charset conversions with a Linux and a Windows build
#     and compares them byte for byte;
#   - checks that no source outside the two platform modules includes a system header of
#     either platform.
# Installs what it needs from Debian 12. Fails when anything above fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${CORVANTA_WINDOWS_BUILD:-$root/build/windows}
jobs=${CORVANTA_JOBS:-2}
wine=/usr/lib/wine/wine64

packages=(
    cmake ninja-build g++ pkg-config
    g++-mingw-w64-x86-64-posix wine64 googletest
    libcurl4-openssl-dev libpcre2-dev libxlsxwriter-dev
    libminizip-dev libexpat1-dev zlib1g-dev nlohmann-json3-dev
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi

failed=0
fail() {
    echo "windows-check: $*" >&2
    failed=1
}

# --- System headers stay in the platform modules -----------------------------------------
system_headers='(unistd|pthread|windows|winsock2?|ws2tcpip|iconv|langinfo|dirent|dlfcn|fcntl|pwd|poll|signal|spawn|termios|locale|semaphore|sched|process|io|direct|shlobj|knownfolders|tlhelp32|objbase|shellapi|(sys|arpa|netinet|net)/[a-z_/]+)\.h'
offenders=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<${system_headers}>" src \
    --include='*.cpp' --include='*.h' --include='*.hpp' |
    grep -vE '^src/util/Platform(Posix|Windows)\.cpp:' || true)
if [ -n "$offenders" ]; then
    echo "$offenders" >&2
    fail "system headers outside src/util/PlatformPosix.cpp and src/util/PlatformWindows.cpp"
fi

# --- The libraries' headers, alone -------------------------------------------------------
headers=$build/library-headers
rm -rf "$headers"
mkdir -p "$headers"
curl_dir=$(dirname "$(find /usr/include -path '*/curl/curl.h' -print -quit)")
ln -s "$curl_dir" "$headers/curl"
ln -s /usr/include/pcre2.h "$headers/pcre2.h"
ln -s /usr/include/xlsxwriter.h "$headers/xlsxwriter.h"
ln -s /usr/include/xlsxwriter "$headers/xlsxwriter"
for header in zlib.h zconf.h expat.h expat_external.h nlohmann /usr/include/minizip/*.h; do
    ln -s "/usr/include/${header#/usr/include/}" "$headers/$(basename "$header")"
done

# --- Builds ------------------------------------------------------------------------------
cmake -S cmake/windows-check -B "$build/win" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCORVANTA_LIBRARY_HEADERS="$headers" >/dev/null
cmake --build "$build/win" -j "$jobs"
cmake -S cmake/windows-check -B "$build/host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCORVANTA_LIBRARY_HEADERS="$headers" >/dev/null
cmake --build "$build/host" -j "$jobs" --target writer_samples

# --- Wine --------------------------------------------------------------------------------
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no offer to install .NET or the HTML engine
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "windows-check: preparing the Wine prefix $WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1 || true
fi

# --- Test suites -------------------------------------------------------------------------
for suite in util pool query export; do
    exe=$build/win/${suite}_tests.exe
    log=$build/${suite}_tests.log
    if [ ! -f "$exe" ]; then
        fail "$suite: no test executable"
        continue
    fi
    status=0
    (cd "$build/win" && "$wine" "$exe" --gtest_color=no) >"$log" 2>&1 || status=$?
    # The closing lines: how many passed, how many were skipped or failed, and which.
    tr -d '\r' <"$log" | grep -E '^\[  (PASSED|SKIPPED|FAILED)  ?\] ([0-9]+ tests?|[^ ]+$)' |
        sed "s/^/$suite: /" || echo "$suite: no closing line"
    if [ "$status" -ne 0 ] || ! grep -q '^\[  PASSED  \]' "$log"; then
        grep -E '^\[  FAILED  \]' "$log" | tr -d '\r' | sort -u >&2 || true
        fail "$suite tests failed (exit status $status); the whole output is in $log"
    fi
done

# --- Same bytes as on Linux --------------------------------------------------------------
samples=$build/samples
rm -rf "$samples"
mkdir -p "$samples/linux" "$samples/windows"
"$build/host/writer_samples" "$samples/linux"
(cd "$samples" && "$wine" "$build/win/writer_samples.exe" windows >/dev/null 2>&1) ||
    fail "the Windows writer samples could not be written"
for file in 导出/list.txt 导出/list.csv 导出/book.xls; do
    if [ -f "$samples/windows/$file" ] && cmp -s "$samples/linux/$file" "$samples/windows/$file"; then
        echo "samples: $file the same on Linux and Windows ($(wc -c <"$samples/linux/$file") bytes)"
    else
        fail "samples: $file differs between Linux and Windows (see $samples)"
    fi
done
if ! awk -F'\t' '
    NR == FNR { linux[$1] = $2; next }
    $2 == "skipped" { skipped++; print "  skipped (no GB18030 table on this system): " $1; next }
    { compared++ }
    !($1 in linux) || linux[$1] != $2 { bad++; print "  differs: " $1 ": linux " linux[$1] ", windows " $2 }
    END {
        printf "samples: %d conversions the same on Linux and Windows, %d differ, %d skipped\n",
               compared - bad, bad, skipped
        exit bad > 0
    }' "$samples/linux/conversions.tsv" "$samples/windows/conversions.tsv"; then
    fail "charset conversions differ between Linux and Windows"
fi

if [ "$failed" -ne 0 ]; then
    echo "windows-check: FAILED" >&2
    exit 1
fi
echo "windows-check: passed"
