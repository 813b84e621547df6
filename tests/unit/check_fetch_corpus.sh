#!/usr/bin/env bash
# scripts/fetch-corpus.sh against a server on 127.0.0.1 that serves one file
# as the manifest has it and another tampered with: the good one is kept,
# the tampered one refused and named, nothing unchecked lands in the folder
# or replaces a good file, and the manifest comes last, once all is there.
#   check_fetch_corpus.sh SOURCE_DIR
set -euo pipefail
src=$1
fetch=$src/scripts/fetch-corpus.sh
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

tmp=$(mktemp -d)
server=""
trap '[ -z "$server" ] || kill "$server" 2>/dev/null; rm -rf "$tmp"' EXIT
commit=0123456789abcdef0123456789abcdef01234567
# A path that must be percent-encoded: unencoded, '#' ends it.
good_path="media dir/good #1%.flv"
bad_path=bad.flv
www=$tmp/www/owner/repo/$commit
mkdir -p "$www/media dir"
printf 'FLV good bytes\n' >"$tmp/good"
cp "$tmp/good" "$www/$good_path"
printf 'FLV the bytes the manifest names\n' >"$tmp/original"
printf 'FLV the bytes tampered with\n' >"$www/$bad_path"
sum() { sha256sum "$1" | cut -d' ' -f1; }

# The manifest's columns; the script reads name, repository, path, commit,
# size and the last, sha256.
row() { # name path content-file
  printf '%s\towner/repo\t%s\t%s\tMIT\t%s\t-\t-\t-\t-\t-\t-\t-\t%s\n' \
    "$1" "$2" "$commit" "$(stat -c %s "$3")" "$(sum "$3")"
}
manifest=$tmp/manifest.tsv
{
  printf 'name\tsource_repo\tpath_in_repo\tcommit\tlicence\tsize_bytes\tvideo_codec\taudio_codec'
  printf '\tWxH\tduration_s\tdecodes_cleanly\tffmpeg_messages\tstructure_notes\tsha256\n'
  row good.flv "$good_path" "$tmp/good"
  row bad.flv "$bad_path" "$tmp/original"
} >"$manifest"

python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$tmp/www" >"$tmp/server.out" 2>/dev/null &
server=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^Serving HTTP on 127\.0\.0\.1 port \([0-9]*\).*/\1/p' "$tmp/server.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "FAIL: the test's HTTP server did not start" >&2; exit 1; }

run() { # DIR
  TIBROK_CORPUS_BASE_URL=http://127.0.0.1:$port TIBROK_CORPUS_MANIFEST=$manifest \
    bash "$fetch" "$1" >"$tmp/out" 2>"$tmp/err"
}
listing() { (cd "$1" && LC_ALL=C ls -A | tr '\n' ' '); }

# One good file, one tampered with.
out=$tmp/corpus
if run "$out"; then fail "a tampered file was not refused"; fi
grep -q "refused: bad.flv (sha256 $(sum "$www/$bad_path"), the manifest says $(sum "$tmp/original")" \
  "$tmp/err" || fail "the tampered file is not named with both checksums: $(cat "$tmp/err")"
grep -q "refused: good.flv" "$tmp/err" && fail "the good file was refused: $(cat "$tmp/err")"
cmp -s "$tmp/good" "$out/good.flv" || fail "the good file was not fetched whole"
# Neither the tampered file, nor a temporary one, nor the manifest.
[ "$(listing "$out")" = "good.flv " ] || fail "after a refusal the folder holds: $(listing "$out")"

# The server mended: everything is there, the manifest last.
cp "$tmp/original" "$www/$bad_path"
run "$out" || fail "a good fetch failed: $(cat "$tmp/err")"
cmp -s "$tmp/original" "$out/bad.flv" || fail "the mended file was not fetched"
cmp -s "$manifest" "$out/MANIFEST.tsv" || fail "MANIFEST.tsv is not the manifest followed"
[ "$(listing "$out")" = "MANIFEST.tsv bad.flv good.flv " ] ||
  fail "after a good fetch the folder holds: $(listing "$out")"

# A good file in place is kept, whatever the server now serves instead.
printf 'FLV tampered later\n' >"$www/$good_path"
run "$out" || fail "a file already there was fetched again: $(cat "$tmp/err")"
cmp -s "$tmp/good" "$out/good.flv" || fail "a good file in place was replaced"

# A damaged file in place is replaced only by one that checks out.
printf 'FLV rotted\n' >"$out/bad.flv"
printf 'FLV tampered again\n' >"$www/$bad_path"
if run "$out"; then fail "a tampered file replaced a damaged one"; fi
[ "$(cat "$out/bad.flv")" = "FLV rotted" ] || fail "an unchecked download replaced a file"
cp "$tmp/original" "$www/$bad_path"
run "$out" || fail "a damaged file was not fetched again: $(cat "$tmp/err")"
cmp -s "$tmp/original" "$out/bad.flv" || fail "the damaged file was not replaced"

# A file the server lacks, and rows that would write outside the folder.
{
  sed -n 1p "$manifest"
  row missing.flv nowhere.flv "$tmp/original"
  row ../escape.flv "$bad_path" "$tmp/original"
  # Climbs into another repository, whose file would check out.
  row sneaky.flv "../../../elsewhere/repo/$commit/$bad_path" "$tmp/original"
} >"$tmp/hostile.tsv"
cp "$tmp/hostile.tsv" "$manifest"
mkdir -p "$tmp/www/elsewhere/repo/$commit"
cp "$tmp/original" "$tmp/www/elsewhere/repo/$commit/$bad_path"
if run "$tmp/other"; then fail "a missing file was not refused"; fi
for name in missing.flv ../escape.flv sneaky.flv; do
  grep -qF "refused: $name (" "$tmp/err" || fail "$name is not named as refused: $(cat "$tmp/err")"
done
[ ! -e "$tmp/escape.flv" ] || fail "a manifest row wrote outside the folder"
[ -z "$(listing "$tmp/other")" ] || fail "refused rows left files: $(listing "$tmp/other")"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "fetch-corpus checks passed"
