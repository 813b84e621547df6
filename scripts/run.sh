#!/usr/bin/env bash
# Installs what is needed, builds the player and plays a sample FLV made here
# with ffmpeg. Without a display it runs under Xvfb, dismisses the start-up
# box, and saves a screenshot to build/screenshot.png. Installs neither what
# the tests need nor Xvfb where there is a display.
set -euo pipefail
cd "$(dirname "$0")/.."
groups=(build run)
[ -n "${DISPLAY:-}" ] || groups+=(headless)
bash scripts/install-deps.sh "${groups[@]}"
# Without the tests, whose configuration asks for what only they need.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIBROK_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target tibrok-flv-player
sample=build/sample/tibrok-sample.flv
mkdir -p build/sample
if [ ! -s "$sample" ]; then
  ffmpeg -hide_banner -loglevel error -nostdin -y \
    -f lavfi -i "testsrc2=size=640x360:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
    -t 20 -c:v flv1 -q:v 3 -c:a libmp3lame -b:a 96k "$sample"
fi
player=build/bin/tibrok-flv-player
if [ -n "${DISPLAY:-}" ]; then
  exec "$player" "$(realpath "$sample")"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -noreset" bash scripts/screenshot.sh "$player" "$(realpath "$sample")" build/screenshot.png
