#!/usr/bin/env bash
# Installs from Debian 12's archive what the named groups need, and nothing
# more; with no group named, every group. What is installed already is not
# asked for again, so it is cheap to run before every command.
#   bash scripts/install-deps.sh build run      scripts/run.sh, with a display
#   bash scripts/install-deps.sh build test     scripts/test.sh
# A new need goes into the group of the command that has it; a new command
# gets a group of its own.
set -euo pipefail

packages_of() {
  case $1 in
    # Configuring and compiling the program, its tests and benchmark programs.
    build) echo build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools \
      libgl-dev libmpv-dev libssl-dev ;;
    # Playing the sample scripts/run.sh makes (libmpv2 itself comes with
    # libmpv-dev).
    run) echo ffmpeg fonts-dejavu-core ca-certificates ;;
    # Playing it with no display: under Xvfb, OK pressed with xdotool, the
    # screenshot taken with ImageMagick's import.
    headless) echo xvfb xauth xdotool imagemagick ;;
    # The tests: Xvfb and the X tools the suites drive the program with,
    # ffmpeg for the files they make, the style and Windows resource checks,
    # the launcher, AppStream and .deb checks, MPRIS on a private bus; and
    # the fetch group, which scripts/fetch-corpus.sh asks for when its check
    # runs it.
    test) echo xvfb xauth xdotool x11-utils ffmpeg fonts-dejavu-core git clang-format python3 \
      binutils-mingw-w64-x86-64 desktop-file-utils appstream dpkg-dev file man-db \
      dbus-daemon dbus-bin playerctl "$(packages_of fetch)" ;;
    # scripts/fetch-corpus.sh.
    fetch) echo curl ca-certificates ;;
    # scripts/package.sh: Debian's build flags, shlibdeps and lintian.
    package) echo dpkg-dev file lintian ;;
    # bench/run.sh: mpv to measure against, ffmpeg for the inputs, one Xvfb.
    bench) echo mpv ffmpeg xvfb xauth xdotool python3 ;;
    *) return 1 ;;
  esac
}

groups=("$@")
[ ${#groups[@]} -ne 0 ] || groups=(build run headless test fetch package bench)
packages=()
for group in "${groups[@]}"; do
  list=$(packages_of "$group") || { echo "install-deps.sh: no group '$group'" >&2; exit 2; }
  read -r -a words <<<"$list"
  packages+=("${words[@]}")
done
missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
