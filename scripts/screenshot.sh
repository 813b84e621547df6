#!/usr/bin/env bash
# Under an X server with no one at it: starts the player, presses OK on the
# start-up box, lets the video play a little and saves the screen.
set -euo pipefail
player=$1 sample=$2 out=$3
"$player" "$sample" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
box=""
for _ in $(seq 100); do
  box=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n1) && [ -n "$box" ] && break
  sleep 0.1
done
[ -n "$box" ] || { echo "the start-up box did not appear" >&2; exit 1; }
# The key goes through the keyboard, not as an event sent to the box: the box
# is gone before the key is let go, so let go of it too, or X repeats it.
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return 2>/dev/null || true
xdotool keyup Return 2>/dev/null || true
sleep 3
import -window root "$out"
echo "screenshot: $out"
