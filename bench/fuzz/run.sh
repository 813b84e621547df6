#!/usr/bin/env bash
# Builds the FLV reader's libFuzzer target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, and runs it for the given number
# of seconds (default 60), seeded from ../shared/corpus (read in place) and
# from small files in today's dialects that make_seeds.cpp writes; new
# inputs go to build-fuzz/corpus, crashes to build-fuzz/crashes. Prints the
# executions per second and the coverage it reached.
#
#   bash bench/fuzz/run.sh [seconds]
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seeds=$root/../shared/corpus

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y clang libclang-rt-14-dev
fi

mkdir -p "$build/obj" "$build/corpus" "$build/crashes"
launcher=""
command -v ccache >/dev/null && launcher=ccache
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -Wall -Wextra -Werror
       -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -I"$root/components")
objects=()
for source in "$root"/components/media/flv/*.cpp "$root/bench/fuzz/fuzz_flv_reader.cpp"; do
  object=$build/obj/$(basename "${source%.cpp}").o
  if [ ! -f "$object" ] || [ "$source" -nt "$object" ] || \
     [ -n "$(find "$root/components/media/flv" -name '*.h' -newer "$object")" ]; then
    $launcher clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
  fi
  objects+=("$object")
done
clang++ -fsanitize=fuzzer,address,undefined "${objects[@]}" -o "$build/fuzz_flv_reader"
# Files in today's dialects, which the corpus of real files holds one of.
mkdir -p "$build/seeds"
clang++ -std=c++20 -O1 -Wall -Wextra -Werror -I"$root/tests" "$root/bench/fuzz/make_seeds.cpp" \
  -o "$build/make_seeds"
"$build/make_seeds" "$build/seeds"

log=$build/fuzz.log
set +e
ASAN_OPTIONS=detect_leaks=1 "$build/fuzz_flv_reader" \
  -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
  -dict="$root/bench/fuzz/flv.dict" -artifact_prefix="$build/crashes/" -print_final_stats=1 \
  "$build/corpus" "$seeds" "$build/seeds" 2>&1 | tee "$log" | \
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
echo "crashes: $(ls "$build/crashes" | wc -l) in $build/crashes"
exit "$status"
