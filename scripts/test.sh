#!/usr/bin/env bash
# Installs what is needed, builds and runs every test.
#   scripts/test.sh              the normal build in build/
#   scripts/test.sh --sanitize   the tests built with ASan + UBSan in build-asan/
# Without the real-world corpus (../shared/corpus, or $TIBROK_CORPUS_DIR) the
# suites skip what needs it; the end of the run lists what each left out.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build test
dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIBROK_WERROR=ON -DTIBROK_BUILD_TESTS=ON)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DTIBROK_SANITIZE=ON -DTIBROK_WERROR=ON -DTIBROK_BUILD_TESTS=ON)
fi
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
cd "$dir"
status=0
ctest --output-on-failure -j1 || status=$?
# A suite without the corpus passes and says in one line what it left out;
# ctest shows the output of failures only, so those lines are gathered here
# from its log, each under the name of the test that printed it.
log=Testing/Temporary/LastTest.log
if [ -f "$log" ] && grep -q "the real-world corpus is absent" "$log"; then
  echo
  echo "Skipped for want of the real-world corpus:"
  awk '/^[0-9]+\/[0-9]+ Test: / {test = $3}
       /: the real-world corpus is absent / {sub(/^[^:]*: /, ""); print "  " test ": " $0}' "$log"
fi
exit "$status"
