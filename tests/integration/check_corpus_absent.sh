#!/usr/bin/env bash
# Suites that read the real-world corpus, run as on a clone of the repository
# alone: without the corpus each passes, skips, and says in one line where it
# looked; told the corpus is required, each fails naming where it looked.
#   check_corpus_absent.sh TEST_PROGRAM...
set -euo pipefail
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
none=$tmp/no-corpus

for program in "$@"; do
  name=$(basename "$program")
  status=0
  env -u TIBROK_CORPUS_REQUIRED TIBROK_CORPUS_DIR="$none" "$program" >"$tmp/out" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "$name exits $status without the corpus: $(grep -A2 'FAIL!' "$tmp/out")"
  lines=$(grep -c "^$name: the real-world corpus is absent (looked in $none); " "$tmp/out" || true)
  [ "$lines" -eq 1 ] || fail "$name says $lines times that the corpus is absent, not once"
  grep -q "^SKIP " "$tmp/out" || fail "$name skips nothing without the corpus"

  status=0
  TIBROK_CORPUS_REQUIRED=1 TIBROK_CORPUS_DIR="$none" "$program" >"$tmp/out" 2>&1 || status=$?
  [ "$status" -ne 0 ] || fail "$name passes without a corpus it was told is required"
  grep -q "required.*$none" "$tmp/out" || fail "$name does not say where the required corpus is missing"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "corpus-absent checks passed: $*"
