#!/usr/bin/env bash
# Builds the container image tovik:<version> (and tovik:latest) with podman
# from the package tovik_<version>_amd64.deb, made by scripts/package.sh when
# none is given or lying in the top folder.
# Where no registry can be reached, the Debian base image the Containerfile
# starts FROM is first made here with mmdebstrap and imported under that name.
# Where the default container runtime cannot set resource limits (crun in
# some virtual machines), runc is used; the script says which.
# Usage: scripts/container.sh [tovik_<version>_amd64.deb]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
install_missing podman runc mmdebstrap

deb="${1:-}"
if [ -z "$deb" ]; then
    deb="$(ls tovik_*_amd64.deb 2>/dev/null | tail -n 1 || true)"
    if [ -z "$deb" ]; then
        bash scripts/package.sh
        deb="$(ls tovik_*_amd64.deb | tail -n 1)"
    fi
fi
version="$(dpkg-deb -f "$deb" Version)"
containerfile=packaging/container/Containerfile
base="$(sed -n 's/^FROM[[:space:]]\+//p' "$containerfile" | head -n 1)"

if podman image exists "$base"; then
    echo "base image: $base (already here)"
elif timeout 120 podman pull -q "$base" >/dev/null 2>&1; then
    echo "base image: $base (pulled)"
else
    echo "base image: no registry answers; making $base with mmdebstrap"
    # What the slim image holds: the minimal base system, apt, no documentation.
    mmdebstrap --quiet --variant=minbase --dpkgopt='path-exclude=/usr/share/doc/*' \
        --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/locale/*' \
        bookworm - http://deb.debian.org/debian |
        podman import --quiet --change 'CMD ["bash"]' - "$base" >/dev/null
fi

# A runtime that can set the limits a cluster puts on each equipment. The
# process limits are given, not podman's defaults: some sandboxes refuse
# those (packaging/container/check-container.sh runs with the same).
limits_work() {
    podman --runtime "$1" run --rm --ulimit nofile=4096:4096 --ulimit nproc=4096:4096 \
        --memory 64m --cpus 0.5 --pids-limit 64 "$base" true >/dev/null 2>&1
}
runtime="$(podman info --format '{{.Host.OCIRuntime.Name}}')"
if limits_work "$runtime"; then
    echo "container runtime: $runtime (sets resource limits)"
elif [ "$runtime" != runc ] && command -v runc >/dev/null && limits_work runc; then
    echo "container runtime: runc ($runtime cannot set resource limits here)"
    runtime=runc
else
    echo "container runtime: $runtime (cannot set resource limits here; running without them)"
fi

context="$(mktemp -d)"
trap 'rm -rf "$context"' EXIT
cp "$deb" "$context/tovik.deb"
cp packaging/container/tovik-health "$context/"
# The docker format keeps the HEALTHCHECK. The label names the recipe, so
# that a check can tell an image made from another Containerfile.
recipe="$(cat "$containerfile" packaging/container/tovik-health | sha256sum | cut -c1-16)"
podman --runtime "$runtime" build --quiet --format docker -f "$containerfile" \
    --label "org.tovik.recipe=$recipe" -t "tovik:$version" -t tovik:latest "$context" >/dev/null
echo "built tovik:$version"
# For the scripts that run it (podman --runtime "$(cat ...)").
mkdir -p build
echo "$runtime" > build/container-runtime
