#!/usr/bin/env bash
# Under an X server with no one at it: starts the player, presses OK on the
# start-up box, lets the video play a little and saves the screen.
set -euo pipefail
player=$1 sample=$2 out=$3
"$player" "$sample" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  xdotool search --name "^Tibrok flv player$" >/dev/null 2>&1 && break
  sleep 0.1
done
box=$(xdotool search --name "^Tibrok flv player$" | head -n1)
xdotool windowactivate --sync "$box" 2>/dev/null || xdotool windowfocus --sync "$box"
xdotool key --window "$box" Return
sleep 3
import -window root "$out"
echo "screenshot: $out"
