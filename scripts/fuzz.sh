#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# A target fuzz/<component>/<target>.cpp has its seed corpus in
# fuzz/<component>/corpus/<target>/; new inputs go to a scratch copy.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/setup.sh fuzz
status=0
for corpus in fuzz/*/corpus/*/; do
    corpus="${corpus%/}"
    target="$(basename "$corpus")"
    component="$(basename "$(dirname "$(dirname "$corpus")")")"
    bin="build/fuzz/fuzz/$component/$target"
    if [ ! -x "$bin" ]; then
        echo "no fuzz binary for corpus $corpus" >&2
        status=1
        continue
    fi
    work="$(mktemp -d)"
    cp -r "$corpus/." "$work/"
    echo "== $target for ${seconds}s"
    if ! "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -artifact_prefix="build/fuzz/$target-" -print_final_stats=1 "$work" 2>"build/fuzz/$target.log"; then
        echo "$target FAILED; see build/fuzz/$target.log" >&2
        tail -n 40 "build/fuzz/$target.log" >&2
        status=1
    else
        grep -E 'stat::number_of_executed_units|Done ' "build/fuzz/$target.log" || true
    fi
    rm -rf "$work"
done
exit $status
