#!/usr/bin/env bash
# The manual pages name every option of `tovik --help` and every command of
# `tovik-codec --help`, and every option of `tovik-fleet --help`, so a new
# option cannot ship undocumented.
# Usage: packaging/check-manpages.sh TOVIK TOVIK_CODEC TOVIK_FLEET
set -euo pipefail
tovik="$1"
codec="$2"
fleet="$3"
pages="$(dirname "$0")"
status=0
# In roff source a hyphen is written \-.
documented() {
    grep -qF -- "${2//-/\\-}" "$pages/$1" || { echo "$1 does not name $2" >&2; status=1; }
}
for option in $("$tovik" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    documented tovik.1 "$option"
done
for command in $("$codec" --help | sed -n '/^commands:/,/^$/s/^  \([a-z][a-z-]*\).*/\1/p'); do
    documented tovik-codec.1 "$command"
done
for option in $("$fleet" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    documented tovik-fleet.1 "$option"
done
exit $status
