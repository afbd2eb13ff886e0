#!/usr/bin/env bash
# Runs one container of the image tovik:<version> with the example equipment
# mounted read-only at /etc/tovik, under the limits a cluster would set, and
# a read-only root file system; a host outside it, writing raw HSMS frames
# on a plain TCP socket, must get Select.rsp and S1F2.
# Exit status 77 (skipped) with the reason where podman or the image is not
# there, or the image was built from another Containerfile than this one.
# Usage: packaging/container/check-container.sh VERSION
set -euo pipefail
cd "$(dirname "$0")/../.."
version="$1"
image="tovik:$version"
command -v podman >/dev/null || { echo "SKIPPED: podman is not installed (.ci/run installs it)"; exit 77; }
podman image exists "$image" || { echo "SKIPPED: no image $image (build it with scripts/container.sh)"; exit 77; }
recipe="$(cat packaging/container/Containerfile packaging/container/tovik-health | sha256sum | cut -c1-16)"
[ "$(podman image inspect --format '{{index .Labels "org.tovik.recipe"}}' "$image")" = "$recipe" ] ||
    { echo "SKIPPED: $image was built from another Containerfile (rebuild it with scripts/container.sh)"; exit 77; }
runtime="$(cat build/container-runtime 2>/dev/null || podman info --format '{{.Host.OCIRuntime.Name}}')"

fail() {
    echo "container check FAILED: $*" >&2
    [ -z "${name:-}" ] || podman logs "$name" >&2 || true
    exit 1
}
name="tovik-check-$$"
cleanup() {
    exec 3>&- 2>/dev/null || true
    podman --runtime "$runtime" rm -f -t 0 "$name" >/dev/null 2>&1 || true
}
trap cleanup EXIT

for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 30000))
    if (exec 4<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
    podman --runtime "$runtime" run -d --name "$name" --log-level error -p "127.0.0.1:$port:5000" \
        -v "$PWD/examples:/etc/tovik:ro" --read-only --tmpfs /tmp \
        --ulimit nofile=4096:4096 --ulimit nproc=4096:4096 --memory 64m --pids-limit 64 \
        "$image" --set DeviceID=3 >/dev/null && break
    podman rm -f "$name" >/dev/null 2>&1 || true
done
opened=""
for _ in $(seq 100); do
    podman logs "$name" 2>&1 | grep -x "HSMS port has been opened successfully." >/dev/null && opened=1 && break
    sleep 0.1
done
[ -n "$opened" ] || fail "tovik did not open its port"
podman logs "$name" 2>&1 | grep -x "Setting Preferences.DeviceID=3 from the command line (not saved)." >/dev/null ||
    fail "the --set after the image name was not taken"
[ "$(podman exec "$name" id -u)" != 0 ] || fail "tovik runs as root"
# The image's health check (the control API's status route on the
# container's loopback address), run by hand: without systemd podman
# schedules none.
podman logs "$name" 2>&1 | grep -x "API listening on 127.0.0.1:8080" >/dev/null || fail "no control API for the health check"
podman --runtime "$runtime" healthcheck run "$name" >/dev/null || fail "health check"

exec 3<>"/dev/tcp/127.0.0.1/$port"
bytes() { # the next $1 bytes from the host's socket, as hex
    timeout 10 dd bs=1 count="$1" status=none <&3 | od -An -v -tx1 | tr -d ' \n'
}
receive() { # the next message after its length field, as hex
    local length
    length="$(bytes 4)"
    [ ${#length} -eq 8 ] || return 0
    bytes $((16#$length))
}
# Select.req (SType 1), system bytes 1 -> Select.rsp (SType 2) with status 0.
printf '\x00\x00\x00\x0a\xff\xff\x00\x00\x00\x01\x00\x00\x00\x01' >&3
reply="$(receive)"
[ "$reply" = "ffff0000000200000001" ] || fail "Select.rsp: '$reply'"
# S1F1 W for device 3, system bytes 2 -> S1F2 from the example document.
printf '\x00\x00\x00\x0a\x00\x03\x81\x01\x00\x00\x00\x00\x00\x02' >&3
reply="$(receive)"
[[ "$reply" == 00030102000000000002?* ]] || fail "S1F2: '$reply'"
echo "Select.rsp and S1F2 from the container: $reply"
exec 3>&-
podman --runtime "$runtime" stop -t 5 "$name" >/dev/null
status="$(podman inspect --format '{{.State.ExitCode}}' "$name")"
[ "$status" -eq 0 ] || fail "tovik exited $status on SIGTERM"
echo "container check passed"
