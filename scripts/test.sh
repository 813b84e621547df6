#!/usr/bin/env bash
# Installs what is needed, builds and runs every test.
#   scripts/test.sh              the normal build in build/
#   scripts/test.sh --sanitize   the tests built with ASan + UBSan in build-asan/
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
cd "$dir" && ctest --output-on-failure -j1
