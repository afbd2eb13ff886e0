#!/usr/bin/env bash
# Builds the Debian package tovik_<version>_amd64.deb into the top folder:
# installs what is missing (the build's packages and Debian's packaging
# tools), builds the release preset and runs CPack's DEB generator.
# Install it with: apt install ./tovik_*.deb
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# dpkg-shlibdeps (dpkg-dev) finds the package's dependencies in the
# binaries that file tells CPack apart.
source scripts/packages.sh
install_missing dpkg-dev file

# The package needs neither tests nor benchmarks. Debian's hardening flags
# (stack protector, fortified functions, read-only relocations bound at start).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
bash scripts/setup.sh release -DTOVIK_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
rm -rf build/release/package
(cd build/release && cpack -G DEB)
deb="$(ls build/release/package/tovik_*.deb)"
rm -f tovik_*.deb
cp "$deb" .
echo "Built $(basename "$deb")"
