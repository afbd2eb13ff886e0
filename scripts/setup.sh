#!/usr/bin/env bash
# Installs the Debian packages Tovik needs (only those missing), then configures
# and builds the given CMake preset (default: dev), with any further CMake
# configure options.
# Usage: scripts/setup.sh [preset [cmake options...]]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"

packages=(
    build-essential cmake ninja-build pkg-config git
    clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev qt6-declarative-dev
    libgl-dev libxkbcommon-dev libx11-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    xvfb xauth
    # recordings' capture files are read back by tshark in the tests
    tshark
    qt6-httpserver-dev qt6-websockets-dev python3-websocket
)
source scripts/packages.sh
install_missing "${packages[@]}"
# The manifests' render test: kubectl (Debian's kubernetes-client, unless a
# kubectl from elsewhere is there already; the two conflict) and PyYAML.
install_missing python3-yaml
command -v kubectl >/dev/null || install_missing kubernetes-client

cmake --preset "$preset" "${@:2}" >/dev/null
cmake --build --preset "$preset"
