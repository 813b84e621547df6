#!/usr/bin/env bash
# Builds a reader's libFuzzer target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, and runs it for the given number
# of seconds (default 60). The FLV reader is seeded from ../shared/corpus
# (read in place) and from small files in today's dialects that
# make_seeds.cpp writes, the MP4 reader from small files ffmpeg makes here
# (whole, with the header first, fragmented, sound only); new inputs go to
# build-fuzz/corpus (corpus-mp4), crashes to build-fuzz/crashes
# (crashes-mp4). Prints the executions per second and the coverage reached.
#
#   bash bench/fuzz/run.sh [seconds] [flv|mp4]
set -euo pipefail

seconds=${1:-60}
reader=${2:-flv}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
case $reader in
  flv) seeds=$root/../shared/corpus; made=$build/seeds; suffix="" ;;
  mp4) seeds=$build/seeds-mp4; made=$seeds; suffix=-mp4 ;;
  *) echo "usage: run.sh [seconds] [flv|mp4]" >&2; exit 2 ;;
esac

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y clang libclang-rt-14-dev
fi

corpus=$build/corpus$suffix
crashes=$build/crashes$suffix
mkdir -p "$build/obj" "$corpus" "$crashes"
if [ "$reader" = mp4 ] && [ ! -d "$seeds" ]; then
  mkdir -p "$seeds"
  encode() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
  encode -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i sine -t 1 -c:v libx264 \
    -c:a aac -movflags +faststart "$seeds/av.mp4"
  encode -f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v libx264 \
    -movflags +frag_keyframe+empty_moov "$seeds/fragmented.mp4"
  encode -f lavfi -i sine -t 1 -c:a aac "$seeds/sound.m4a"
  encode -f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v mpeg4 -f mov "$seeds/last.mov"
  head -c 3000 "$seeds/av.mp4" > "$seeds/cut.mp4"
fi
launcher=""
command -v ccache >/dev/null && launcher=ccache
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -Wall -Wextra -Werror
       -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -I"$root/components")
objects=()
sources=("$root"/components/media/flv/*.cpp)
[ "$reader" = mp4 ] && sources+=("$root"/components/media/mp4/*.cpp)
for source in "${sources[@]}" "$root/bench/fuzz/fuzz_${reader}_reader.cpp"; do
  object=$build/obj/$(basename "$(dirname "$source")")_$(basename "${source%.cpp}").o
  if [ ! -f "$object" ] || [ "$source" -nt "$object" ] || \
     [ -n "$(find "$root/components/media/flv" "$root/components/media/mp4" -name '*.h' -newer "$object")" ]; then
    $launcher clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
  fi
  objects+=("$object")
done
clang++ -fsanitize=fuzzer,address,undefined "${objects[@]}" -o "$build/fuzz_${reader}_reader"
if [ "$reader" = flv ]; then
  # Files in today's dialects, which the corpus of real files holds one of.
  mkdir -p "$made"
  clang++ -std=c++20 -O1 -Wall -Wextra -Werror -I"$root/tests" "$root/bench/fuzz/make_seeds.cpp" \
    -o "$build/make_seeds"
  "$build/make_seeds" "$made"
fi

log=$build/fuzz$suffix.log
set +e
ASAN_OPTIONS=detect_leaks=1 "$build/fuzz_${reader}_reader" \
  -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
  -dict="$root/bench/fuzz/$reader.dict" -artifact_prefix="$crashes/" -print_final_stats=1 \
  "$corpus" "$seeds" "$made" 2>&1 | tee "$log" | \
  grep --line-buffered -E "INITED|DONE|pulse|ERROR|SUMMARY|crash-|timeout-|oom-|leak-"
status=${PIPESTATUS[0]}
set -e
last=$(grep -E "^#[0-9]+" "$log" | tail -1)
execs=$(grep -o "number_of_executed_units: *[0-9]*" "$log" | grep -o "[0-9]*$" || echo "?")
rate=$(grep -o "average_exec_per_sec: *[0-9]*" "$log" | grep -o "[0-9]*$" || echo "?")
echo
echo "seconds: $seconds"
echo "executions: $execs ($rate per second)"
echo "coverage: $(echo "$last" | grep -o "cov: [0-9]*" | grep -o "[0-9]*") edges," \
     "$(echo "$last" | grep -o "ft: [0-9]*" | grep -o "[0-9]*") features," \
     "corpus $(echo "$last" | grep -o "corp: [0-9/]*[a-zA-Z]*" | cut -d' ' -f2) (inputs/size)"
echo "crashes: $(ls "$crashes" | wc -l) in $crashes"
exit "$status"
