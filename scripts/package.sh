#!/usr/bin/env bash
# Builds the Debian package in build-deb/ with Debian's own compiler and
# linker flags, and checks it with lintian.
#   scripts/package.sh    -> build-deb/tibrok-flv-player_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build package
dir=build-deb

# The flags a Debian build would use, hardening included; the "None" build
# type keeps CMake from adding its own optimisation level on top of them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=None -DTIBROK_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB)

deb=$(ls "$dir"/*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
# Errors fail the build; warnings and notes are shown for a human to judge.
lintian --fail-on error --display-info "$deb"
echo "built $deb"
