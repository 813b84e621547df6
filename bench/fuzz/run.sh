#!/usr/bin/env bash
# Builds one of the player's libFuzzer targets with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer in build-fuzz/, and runs it for the given
# number of seconds (default 60). The targets:
#   flv   the FLV reader, seeded from the real-world corpus (../shared/corpus
#         or $TIBROK_CORPUS_DIR, read in place) and
#         from small files in today's dialects that make_seeds.cpp writes
#   mp4   the MP4 box walker, seeded from small files ffmpeg makes here
#         (whole, with the header first, fragmented, sound only)
#   http  what the player reads from an http server: answer heads, chunked
#         bodies, redirects, a tail against a start
#   mkv   the Matroska view of a modern FLV, read in any order, seeded as flv
# New inputs go to build-fuzz/corpus-TARGET, crashes to
# build-fuzz/crashes-TARGET. Prints the executions per second and the
# coverage reached.
#
#   bash bench/fuzz/run.sh [seconds] [flv|mp4|http|mkv]
set -euo pipefail

seconds=${1:-60}
target=${2:-flv}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
flv_sources=("$root"/components/media/flv/*.cpp)
# The real-world corpus, read in place, where the tests look for it.
real=${TIBROK_CORPUS_DIR:-$root/../shared/corpus}
seeds=()
case $target in
  flv) sources=("${flv_sources[@]}" "$root/bench/fuzz/fuzz_flv_reader.cpp")
       name=fuzz_flv_reader; dict=(-dict="$root/bench/fuzz/flv.dict")
       seeds=("$real" "$build/seeds-flv") ;;
  mp4) sources=("${flv_sources[@]}" "$root"/components/media/mp4/*.cpp
                "$root/bench/fuzz/fuzz_mp4_reader.cpp")
       name=fuzz_mp4_reader; dict=(-dict="$root/bench/fuzz/mp4.dict")
       seeds=("$build/seeds-mp4") ;;
  http) sources=("${flv_sources[@]}" "$root"/components/net/url.cpp
                 "$root"/components/net/response_head.cpp "$root"/components/net/chunked.cpp
                 "$root"/components/media/network_tail.cpp "$root/bench/fuzz/fuzz_http_answer.cpp")
        name=fuzz_http_answer; dict=(); seeds=("$real") ;;
  mkv) sources=("${flv_sources[@]}" "$root"/components/media/mkv/*.cpp
                "$root/bench/fuzz/fuzz_mkv_view.cpp")
       name=fuzz_mkv_view; dict=(-dict="$root/bench/fuzz/flv.dict")
       seeds=("$real" "$build/seeds-flv") ;;
  *) echo "usage: run.sh [seconds] [flv|mp4|http|mkv]" >&2; exit 2 ;;
esac
corpus=$build/corpus-$target
crashes=$build/crashes-$target

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y clang libclang-rt-14-dev
fi

mkdir -p "$build/obj" "$corpus" "$crashes"
if [ "$target" = mp4 ] && [ ! -d "$build/seeds-mp4" ]; then
  made=$build/seeds-mp4
  mkdir -p "$made"
  encode() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
  encode -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i sine -t 1 -c:v libx264 \
    -c:a aac -movflags +faststart "$made/av.mp4"
  encode -f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v libx264 \
    -movflags +frag_keyframe+empty_moov "$made/fragmented.mp4"
  encode -f lavfi -i sine -t 1 -c:a aac "$made/sound.m4a"
  encode -f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v mpeg4 -f mov "$made/last.mov"
  head -c 3000 "$made/av.mp4" > "$made/cut.mp4"
fi
if [ "$target" = flv ] || [ "$target" = mkv ]; then
  # Files in today's dialects, which the corpus of real files holds one of.
  mkdir -p "$build/seeds-flv"
  clang++ -std=c++20 -O1 -Wall -Wextra -Werror -I"$root/tests" "$root/bench/fuzz/make_seeds.cpp" \
    -o "$build/make_seeds"
  "$build/make_seeds" "$build/seeds-flv"
fi
# A seed folder that is not there (a clone without ../shared) is left out.
present=()
for dir in "${seeds[@]}"; do [ -d "$dir" ] && present+=("$dir"); done

launcher=""
command -v ccache >/dev/null && launcher=ccache
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -Wall -Wextra -Werror
       -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -I"$root/components")
objects=()
for source in "${sources[@]}"; do
  object=$build/obj/$(basename "$(dirname "$source")")_$(basename "${source%.cpp}").o
  if [ ! -f "$object" ] || [ "$source" -nt "$object" ] || \
     [ -n "$(find "$root/components/media" "$root/components/net" -name '*.h' -newer "$object")" ]; then
    $launcher clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
  fi
  objects+=("$object")
done
clang++ -fsanitize=fuzzer,address,undefined "${objects[@]}" -o "$build/$name"

log=$build/fuzz-$target.log
set +e
ASAN_OPTIONS=detect_leaks=1 "$build/$name" \
  -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
  "${dict[@]}" -artifact_prefix="$crashes/" -print_final_stats=1 \
  "$corpus" "${present[@]}" 2>&1 | tee "$log" | \
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
