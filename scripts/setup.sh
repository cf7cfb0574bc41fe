#!/usr/bin/env bash
# Installs the Debian 12 packages Corvanta builds and tests with (skips what is there).
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev
    qt6-base-dev libgl-dev
    libcurl4-openssl-dev libpcre2-dev libxlsxwriter-dev libcpp-httplib-dev libssl-dev openssl
    libminizip-dev libexpat1-dev
    nlohmann-json3-dev libcli11-dev fonts-wqy-microhei
    libgtest-dev libgmock-dev libbenchmark-dev
    python3 python3-openpyxl python3-xlrd python3-olefile python3-xlwt
    locales time
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
