#!/usr/bin/env bash
# Sets up (packages, build) and starts Tovik on the shipped example equipment:
# a passive HSMS equipment on 127.0.0.1 port 5000 that a host can connect to.
# The example document and its settings are copied to build/run/ first (once),
# so what Tovik records in them does not touch the shipped files.
# Usage: scripts/run.sh [--headless | --windowed] [other tovik options]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh dev
mkdir -p build/run
for f in equipment.tvkm equipment.ini; do
    [ -e "build/run/$f" ] || cp "examples/$f" "build/run/$f"
done
exec build/dev/tovik "$@" build/run/equipment.tvkm
