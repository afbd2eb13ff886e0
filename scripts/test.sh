#!/usr/bin/env bash
# Sets up (packages, build) and runs the whole test suite.
# Usage: scripts/test.sh [preset]   (dev or asan-ubsan)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
bash scripts/setup.sh "$preset"
ctest --preset "$preset"
