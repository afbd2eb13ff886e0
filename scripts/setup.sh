#!/usr/bin/env bash
# Installs the Debian packages Tovik needs (only those missing), then configures
# and builds the given CMake preset (default: dev).
# Usage: scripts/setup.sh [preset]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"

packages=(
    build-essential cmake ninja-build pkg-config git
    clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev qt6-declarative-dev
    libgl-dev libxkbcommon-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    xvfb xauth
)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
