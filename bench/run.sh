#!/usr/bin/env bash
# Measures our player against mpv and FFmpeg, side by side in one run, and
# writes build-bench/bench-results.md. Not part of the test command.
#
#   bash bench/run.sh              every file, BENCH_RUNS runs each (default 3)
#   BENCH_RUNS=5 bash bench/run.sh
#   BENCH_FILES="h264_aac_720p.flv" bash bench/run.sh   only these inputs
#   BENCH_BASELINE=/path/to/bench_player bash bench/run.sh
#       also measures a bench_player built from an earlier state of the
#       player, in the same runs, for a before/after table
#   BENCH_LONG=1 bash bench/run.sh      adds the long-file rows: seeks in a
#       30-minute file without an index (from the disk and over loopback
#       http), a 1080p60 recording played through, length known (2 GB file)
#   BENCH_LONG=only bash bench/run.sh   the long-file rows alone
#   BENCH_MODERN=1 bash bench/run.sh    adds the modern FLV rows: 1080p60 HEVC
#       recordings (codec id 12 and enhanced) and a 1080p60 AV1 one, each
#       beside mpv playing the same streams in Matroska
#   BENCH_MODERN=only bash bench/run.sh the modern FLV rows alone
#   BENCH_MODERN_SIZE=640x360 BENCH_MODERN_SECONDS=10 ...  smaller modern
#       inputs, for a quick look at the harness (default 1920x1080, 60 s)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-bench
media=$build/bench-media
corpus=${TIBROK_CORPUS_DIR:-$root/../shared/corpus}
runs=${BENCH_RUNS:-3}

bash scripts/install-deps.sh build bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_player tibrok-flv-player make_modern_flv

# Inputs made here, so that every machine measures the same thing. Moving
# test patterns with grain, at the bit rates FLV sites used; keyframes every
# two seconds.
mkdir -p "$media"
make_h264() {  # name width height bitrate
  local out=$media/$1
  [ -s "$out" ] && return 0
  echo "making $1" >&2
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=size=$2x$3:rate=30,noise=alls=12:allf=t" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 12 \
    -c:v libx264 -preset fast -b:v "$4" -maxrate "$4" -bufsize "$4" -g 60 -pix_fmt yuv420p \
    -c:a aac -b:a 128k -ac 2 "$out.tmp.flv"
  mv "$out.tmp.flv" "$out"
}
if [ "${BENCH_LONG:-}" != only ] && [ "${BENCH_MODERN:-}" != only ]; then
  make_h264 h264_aac_360p.flv 640 360 800k
  make_h264 h264_aac_720p.flv 1280 720 2500k
  make_h264 h264_aac_1080p.flv 1920 1080 5000k
  if [ ! -s "$media/flv1_mp3_480p.flv" ]; then
    echo "making flv1_mp3_480p.flv" >&2
    ffmpeg -nostdin -v error -y \
      -f lavfi -i "testsrc2=size=640x480:rate=30,noise=alls=12:allf=t" \
      -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 12 \
      -c:v flv1 -b:v 1500k -g 60 -c:a libmp3lame -b:a 128k -ac 2 "$media/flv1_mp3_480p.tmp.flv"
    mv "$media/flv1_mp3_480p.tmp.flv" "$media/flv1_mp3_480p.flv"
  fi
fi

# The long-file rows' inputs: made once, fast (ultrafast x264, small picture
# for the long one). None has a keyframe index; the long ones give no length
# either, so a player must find both itself. The 2 GB file is the recording
# looped without re-encoding.
long_args=()
if [ -n "${BENCH_LONG:-}" ]; then
  if [ ! -s "$media/unindexed_30min_240p.flv" ]; then
    echo "making unindexed_30min_240p.flv" >&2
    ffmpeg -nostdin -v error -y \
      -f lavfi -i "testsrc2=size=320x240:rate=25" \
      -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 1800 \
      -c:v libx264 -preset ultrafast -b:v 300k -maxrate 300k -bufsize 600k \
      -g 75 -keyint_min 75 -sc_threshold 0 -pix_fmt yuv420p \
      -c:a aac -b:a 64k -ac 2 -flvflags no_duration_filesize -f flv "$media/long.tmp.flv"
    mv "$media/long.tmp.flv" "$media/unindexed_30min_240p.flv"
  fi
  if [ ! -s "$media/rec_1080p60.flv" ]; then
    echo "making rec_1080p60.flv" >&2
    ffmpeg -nostdin -v error -y \
      -f lavfi -i "testsrc2=size=1920x1080:rate=60" \
      -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 120 \
      -c:v libx264 -preset ultrafast -b:v 6000k -maxrate 6000k -bufsize 12000k \
      -g 120 -keyint_min 120 -sc_threshold 0 -pix_fmt yuv420p \
      -c:a aac -b:a 160k -ac 2 -f flv "$media/rec.tmp.flv"
    mv "$media/rec.tmp.flv" "$media/rec_1080p60.flv"
  fi
  if [ ! -s "$media/unindexed_2gb_1080p60.flv" ]; then
    echo "making unindexed_2gb_1080p60.flv" >&2
    ffmpeg -nostdin -v error -y -stream_loop 22 -i "$media/rec_1080p60.flv" -c copy \
      -flvflags no_duration_filesize -f flv "$media/big.tmp.flv"
    mv "$media/big.tmp.flv" "$media/unindexed_2gb_1080p60.flv"
  fi
  long_args=(--long-seek-file "$media/unindexed_30min_240p.flv"
    --rec-file "$media/rec_1080p60.flv"
    --length-file "$media/unindexed_30min_240p.flv" --length-file "$media/rec_1080p60.flv"
    --length-file "$media/unindexed_2gb_1080p60.flv")
fi

# The modern FLV rows' inputs: a minute of 1080p60, made once with the
# encoders' fastest presets into MP4 (which keeps decoding times), remuxed by
# ffmpeg into the Matroska that mpv plays, and wrapped as FLV by the tests'
# writer (FFmpeg 5.1 writes neither way of carrying HEVC in FLV).
modern_args=()
if [ -n "${BENCH_MODERN:-}" ]; then
  modern_size=${BENCH_MODERN_SIZE:-1920x1080}
  modern_seconds=${BENCH_MODERN_SECONDS:-60}
  modern_tag=${modern_size#*x}p60_${modern_seconds}s
  make_modern() {  # name video-codec-args...
    local name=$1
    shift
    if [ ! -s "$media/$name.mp4" ]; then
      echo "making $name.mp4" >&2
      ffmpeg -nostdin -v error -y \
        -f lavfi -i "testsrc2=size=$modern_size:rate=60,noise=alls=8:allf=t" \
        -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$modern_seconds" \
        "$@" -g 120 -pix_fmt yuv420p -c:a aac -b:a 160k -ac 2 "$media/$name.tmp.mp4"
      mv "$media/$name.tmp.mp4" "$media/$name.mp4"
    fi
    [ -s "$media/$name.mkv" ] || ffmpeg -nostdin -v error -y -i "$media/$name.mp4" -c copy \
      "$media/$name.mkv"
  }
  make_modern "hevc_aac_$modern_tag" -c:v libx265 -preset ultrafast -tag:v hvc1 \
    -x265-params "log-level=error:bitrate=6000:vbv-maxrate=6000:vbv-bufsize=12000"
  make_modern "av1_aac_$modern_tag" -c:v libsvtav1 -preset 12 -b:v 6000k
  for flv in "hevc_aac_$modern_tag:codecid:hevc12" "hevc_aac_$modern_tag:enhanced:hvc1" \
             "av1_aac_$modern_tag:enhanced:av01"; do
    IFS=: read -r name dialect tag <<<"$flv"
    out=$media/${name}_$tag.flv
    [ -s "$out" ] || "$build/bin/make_modern_flv" "$media/$name.mp4" "$out" "$dialect"
    modern_args+=(--modern "$out=$media/$name.mkv")
  done
fi

files=()
[ "${BENCH_LONG:-}" = only ] || [ "${BENCH_MODERN:-}" = only ] || for name in ${BENCH_FILES:-h264_aac_360p.flv h264_aac_720p.flv h264_aac_1080p.flv flv1_mp3_480p.flv \
  vp6f_mp3_flash8_320x240.flv cuepoints_vp6f_800x600.flv}; do
  if [ -s "$media/$name" ]; then
    files+=("$media/$name")
  elif [ -s "$corpus/$name" ]; then
    files+=("$corpus/$name")
  else
    echo "no input $name" >&2
    exit 1
  fi
done

# One X server for every program, large enough for 1080p at its own size.
display=""
for n in $(seq 90 120); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb ":$display" -screen 0 1920x1200x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.05
done
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8
# Neither player may find a user set-up or write into the user's home.
bench_home=$(mktemp -d)
export HOME=$bench_home XDG_RUNTIME_DIR=$bench_home
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$bench_home"' EXIT

command="BENCH_RUNS=$runs"
[ -n "${BENCH_FILES:-}" ] && command+=" BENCH_FILES=\"$BENCH_FILES\""
[ -n "${BENCH_LONG:-}" ] && command+=" BENCH_LONG=$BENCH_LONG"
[ -n "${BENCH_MODERN:-}" ] && command+=" BENCH_MODERN=$BENCH_MODERN"
[ -n "${BENCH_MODERN_SIZE:-}" ] && command+=" BENCH_MODERN_SIZE=$BENCH_MODERN_SIZE"
[ -n "${BENCH_MODERN_SECONDS:-}" ] && command+=" BENCH_MODERN_SECONDS=$BENCH_MODERN_SECONDS"
# The seek, replacement, whole-program and preview rows go with the
# ordinary inputs.
short_args=(--seek-file "$media/h264_aac_720p.flv" --replace-with "$media/h264_aac_360p.flv"
  --preview-file "$media/h264_aac_720p.flv" --preview-file "$media/h264_aac_1080p.flv")
[ "${BENCH_LONG:-}" = only ] || [ "${BENCH_MODERN:-}" = only ] && short_args=()
baseline=()
if [ -n "${BENCH_BASELINE:-}" ]; then
  baseline=(--baseline-player "$BENCH_BASELINE")
  command+=" BENCH_BASELINE=$BENCH_BASELINE"
fi
python3 bench/compare.py --bench-player "$build/bin/bench_player" "${baseline[@]}" \
  --runs "$runs" --xserver-pid "$xvfb" --program "$build/bin/tibrok-flv-player" \
  "${short_args[@]}" "${long_args[@]}" "${modern_args[@]}" \
  --out "$build/bench-results.md" --command "$command bash bench/run.sh" "${files[@]}"
echo "written: $build/bench-results.md" >&2
