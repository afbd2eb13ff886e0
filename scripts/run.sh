#!/usr/bin/env bash
# Sets up (packages, build) and runs Tovik's main job on the shipped example.
# For now that is the codec tool: the example message's SML text turned into
# the hex text that crosses the wire, and that hex decoded back to SML.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh dev
example="${1:-examples/s1f13.sml}"
echo "== $example as hex text"
hex="$(build/dev/tovik-codec to-hex < "$example")"
echo "$hex"
echo "== decoded back to SML"
echo "$hex" | build/dev/tovik-codec to-sml
