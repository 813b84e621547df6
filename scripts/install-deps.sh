#!/usr/bin/env bash
# Installs from Debian's archive everything the build, the program, the tests,
# the sample run and the benchmark (which measures against mpv) need. Safe to
# run again.
set -euo pipefail
packages=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libmpv-dev libssl-dev ca-certificates
  clang-format git ffmpeg python3 xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core
  binutils-mingw-w64-x86-64 desktop-file-utils appstream dpkg-dev file lintian man-db
  dbus-daemon dbus-bin playerctl
  mpv
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
