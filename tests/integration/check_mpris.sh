#!/usr/bin/env bash
# The player as the desktop sees it on the session bus: the real program,
# driven by playerctl and dbus-send the way media keys and media widgets drive
# it, and watched with dbus-monitor. Also starts it with no bus at all.
#
#   xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" dbus-run-session -- check_mpris.sh PROGRAM
#
# Needs an X server and a private session bus of its own (the command above);
# ffmpeg makes the clips.
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR

program=$(realpath "$1")
name=org.mpris.MediaPlayer2.tibrok_flv_player
path=/org/mpris/MediaPlayer2
player_iface=org.mpris.MediaPlayer2.Player

for tool in playerctl dbus-send dbus-monitor xdotool ffmpeg; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/install-deps.sh)" >&2; exit 1; }
done
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || { echo "FAIL: run under dbus-run-session" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -s "$work/stderr" ]; then
    echo "--- what the program printed:" >&2
    cat "$work/stderr" >&2
  fi
  exit 1
}

# Runs a check until it passes, for up to 5 s: the player acts on requests
# asynchronously.
eventually() {
  for _ in $(seq 50); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}
is() { [ "$("${@:2}" 2>/dev/null)" = "$1" ]; }
expect() {
  eventually is "$@" || fail "'${*:2}' gives '$("${@:2}" 2>&1)', not '$1'"
}
# Whether a number lies within `tolerance` of `want`.
near() { awk -v v="$1" -v w="$2" -v t="$3" 'BEGIN { exit !(v != "" && v - w <= t && w - v <= t) }'; }
position_near() { near "$(playerctl -p "$1" position 2>/dev/null)" "$2" 0.15; }
expect_position() {
  eventually position_near "$1" "$2" || fail "$1 is at $(playerctl -p "$1" position 2>&1), not $2"
}
length_near() { near "$(playerctl -p "$1" metadata mpris:length 2>/dev/null)" "$2" 100000; }
expect_length() {
  eventually length_near "$1" "$2" || fail "length is $(playerctl -p "$1" metadata mpris:length 2>&1), not $2 µs"
}

ffmpeg -loglevel error -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=sample_rate=22050 \
  -t 8 -c:v flv1 -c:a libmp3lame "$work/first clip.flv"
ffmpeg -loglevel error -f lavfi -i testsrc=size=160x120:rate=25 -t 4 -c:v flv1 "$work/second.flv"

# Starts the program on `address`, answers its start-up box and waits for the
# main window. Sets `pid`.
start_player() {
  "$program" "$1" 2>>"$work/stderr" &
  pid=$!
  pids+=("$pid")
  local box=""
  for _ in $(seq 100); do
    box=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n1) && [ -n "$box" ] && break
    sleep 0.1
  done
  [ -n "$box" ] || fail "no start-up box from $program"
  [ "$(xdotool getwindowname "$box")" = "Tibrok flv player" ] || fail "$box is not the start-up box"
  local i shown
  for i in $(seq 100); do
    shown=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | grep -vx "$box" | head -n1) || true
    [ -n "$shown" ] && return 0
    # Pressed again if the box missed the first press. Through the focus
    # rather than sent to the window: xdotool dies sending to a window that
    # is gone, before letting go of the key, and the stuck key would answer
    # the next program's box.
    if [ $((i % 20)) -eq 1 ]; then
      xdotool windowfocus --sync "$box" 2>/dev/null && xdotool key Return 2>/dev/null || true
    fi
    sleep 0.1
  done
  fail "the main window did not appear"
}

call() { dbus-send --session --print-reply --dest="$1" "$path" "${@:2}"; }
get() { call "$1" org.freedesktop.DBus.Properties.Get string:"$2" string:"$3"; }

# --- no session bus: the program starts, shows its window, keeps running and says nothing about it;
# it starts no bus of its own either (libdbus would run dbus-launch through PATH for the X display)
mkdir -p "$work/spy"
for tool in dbus-launch dbus-daemon; do
  printf '#!/bin/sh\ntouch "%s/ran-%s"\nexit 1\n' "$work" "$tool" >"$work/spy/$tool"
  chmod +x "$work/spy/$tool"
done
for bus in "" "unix:path=$work/no-such-bus"; do
  : >"$work/stderr"
  (
    export PATH="$work/spy:$PATH"
    if [ -z "$bus" ]; then unset DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR; else export DBUS_SESSION_BUS_ADDRESS=$bus; fi
    start_player "$work/second.flv"
    sleep 1
    kill -0 "$pid" || fail "the program ended without a bus (${bus:-none set})"
    kill "$pid"
  )
  if grep -Ei 'dbus|d-bus|mpris' "$work/stderr"; then fail "the program spoke about the missing bus"; fi
  for tool in dbus-launch dbus-daemon; do
    [ ! -e "$work/ran-$tool" ] || fail "the program ran $tool without a bus (${bus:-none set})"
  done
done
players=$(playerctl -l 2>/dev/null) || true
grep -q tibrok <<<"$players" && fail "a player without a bus reached the bus"

# --- on the bus
dbus-monitor --session "type='signal',path='$path'" >"$work/signals" 2>&1 &
pids+=("$!")
start_player "$work/first clip.flv"
first=$pid
p=tibrok_flv_player

expect "$p" playerctl -l
expect Playing playerctl -p $p status
expect "first clip.flv" playerctl -p $p metadata xesam:title
expect "file://${work// /%20}/first%20clip.flv" playerctl -p $p metadata xesam:url
expect_length $p 8000000
# Replies are read whole before they are searched: a grep -q that stops at
# the first match ends its writer with SIGPIPE, which pipefail counts as a
# failure.
reply=$(get $name org.mpris.MediaPlayer2 Identity)
grep -q '"Tibrok Flv Player"' <<<"$reply" || fail "Identity: $reply"
reply=$(get $name org.mpris.MediaPlayer2 DesktopEntry)
grep -q '"org.tibrok.FlvPlayer"' <<<"$reply" || fail "DesktopEntry: $reply"
reply=$(get $name $player_iface Metadata)
grep -A1 'mpris:trackid' <<<"$reply" >"$work/trackid"
grep -q 'object path "/' "$work/trackid" || fail "the track id is not an object path: $reply"

playerctl -p $p pause
expect Paused playerctl -p $p status
playerctl -p $p play
expect Playing playerctl -p $p status
playerctl -p $p play-pause
expect Paused playerctl -p $p status

# Seeks, on a paused player so that the position holds still.
playerctl -p $p position 3
expect_position $p 3
playerctl -p $p position 2+
expect_position $p 5
playerctl -p $p position 4-
expect_position $p 1
# Past the end there is no next track to go to: nothing happens.
playerctl -p $p position 60+
sleep 0.5
expect_position $p 1
# A position for a track that is no longer the current one is ignored.
call $name $player_iface.SetPosition objpath:/org/tibrok/FlvPlayer/track/999 int64:6000000 >/dev/null
sleep 0.5
expect_position $p 1

# The rate is the playback speed, within the bounds the player names.
rate() { get $name $player_iface "$1" | sed -n 's/.*double //p'; }
[ "$(rate MinimumRate)" = 0.25 ] || fail "MinimumRate is $(rate MinimumRate)"
[ "$(rate MaximumRate)" = 4 ] || fail "MaximumRate is $(rate MaximumRate)"
call $name org.freedesktop.DBus.Properties.Set string:$player_iface string:Rate variant:double:1.5 >/dev/null
expect 1.5 rate Rate
call $name org.freedesktop.DBus.Properties.Set string:$player_iface string:Rate variant:double:9 >/dev/null
expect 4 rate Rate
call $name org.freedesktop.DBus.Properties.Set string:$player_iface string:Rate variant:double:1 >/dev/null
expect 1 rate Rate
# 0 means Pause, as MPRIS has it: the speed stays as it was.
call $name org.freedesktop.DBus.Properties.Set string:$player_iface string:Rate variant:double:0 >/dev/null
expect Paused playerctl -p $p status
expect 1 rate Rate
playerctl -p $p play
expect Playing playerctl -p $p status

playerctl -p $p volume 0.4
expect 0.400000 playerctl -p $p volume
playerctl -p $p volume 1.5
expect 1.000000 playerctl -p $p volume

track=$(playerctl -p $p metadata mpris:trackid)
playerctl -p $p stop
expect Stopped playerctl -p $p status
playerctl -p $p play
expect Playing playerctl -p $p status
eventually is "first clip.flv" playerctl -p $p metadata xesam:title || fail "no title after a restart"
[ "$(playerctl -p $p metadata mpris:trackid)" != "$track" ] || fail "a restarted file kept its track id"

# Addresses from the desktop meet the address policy.
if out=$(call $name $player_iface.OpenUri string:"ftp://example.com/clip.flv" 2>&1); then
  fail "OpenUri took an ftp address"
fi
grep -q NotSupported <<<"$out" || fail "OpenUri refused with: $out"
# Decoded before it is judged: an encoded NUL does not slip through.
if out=$(call $name $player_iface.OpenUri string:"file:///dev/zero%00" 2>&1); then
  fail "OpenUri took file:///dev/zero%00"
fi
grep -q NotSupported <<<"$out" || fail "OpenUri refused %00 with: $out"
# A script naming another file is accepted as an address, refused as content,
# and the file it names is never opened.
cp "$work/second.flv" "$work/secret.flv"
printf "ffconcat version 1.0\nfile 'secret.flv'\n" >"$work/list.flv"
playerctl -p $p open "file://$work/list.flv"
for _ in $(seq 20); do
  fds=$(ls -l "/proc/$first/fd" 2>/dev/null) || true
  grep -q secret.flv <<<"$fds" && fail "the program opened the file a concat script named"
  sleep 0.05
done
expect Stopped playerctl -p $p status
playerctl -p $p open "file://$work/second.flv"
expect second.flv playerctl -p $p metadata xesam:title
expect_length $p 4000000
call $name org.mpris.MediaPlayer2.Raise >/dev/null || fail "Raise"

# What the desktop was told along the way. Position is never announced: it
# changes all the time and is read when wanted.
grep -A3 'member=PropertiesChanged' "$work/signals" >"$work/changes" || true
grep -q "$player_iface" "$work/changes" || fail "no PropertiesChanged for the player"
for status in Paused Playing Stopped; do
  grep -q "string \"$status\"" "$work/signals" || fail "PlaybackStatus $status was not announced"
done
grep -q 'double 0.4' "$work/signals" || fail "the volume change was not announced"
grep -A1 'string "Rate"' "$work/signals" | grep -q 'double 1.5' || fail "the rate change was not announced"
grep -q 'string "second.flv"' "$work/signals" || fail "the new file's metadata was not announced"
grep -q 'string "Position"' "$work/signals" && fail "Position was announced"
seeked=$(grep -A1 'member=Seeked' "$work/signals" | sed -n 's/.*int64 //p') || true
for at in 3000000 5000000 1000000; do
  for value in $seeked; do near "$value" $at 150000 && continue 2; done
  fail "no Seeked signal near $at µs (seen: $seeked)"
done

# A second player takes a name of its own.
start_player "$work/second.flv"
second=$pid
eventually bash -c "playerctl -l | grep -qx tibrok_flv_player.instance$second" ||
  fail "the second player is not on the bus as tibrok_flv_player.instance$second"
expect Playing playerctl -p "tibrok_flv_player.instance$second" status
expect Playing playerctl -p $p status

# Quit ends the program, as File > Exit does.
for who in "$name.instance$second:$second" "$name:$first"; do
  call "${who%%:*}" org.mpris.MediaPlayer2.Quit >/dev/null || fail "Quit ${who%%:*}"
  eventually bash -c "! kill -0 ${who##*:} 2>/dev/null" || fail "${who%%:*} did not quit"
  wait "${who##*:}" || fail "${who%%:*} ended with status $?"
done
echo "ok"
