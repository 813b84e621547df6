#!/usr/bin/env bash
# Fetches the real-world FLV corpus the tests read: each file from the public
# repository it was collected from, at the commit scripts/corpus-manifest.tsv
# names, kept only when its sha256 is the manifest's.
#   bash scripts/fetch-corpus.sh [DIR]   DIR: ../shared/corpus beside the repository
# A file already in DIR with the right checksum is kept and not fetched
# again. A download is written under a temporary name and moved into place
# only once its checksum matches, so nothing unchecked ever replaces a file.
# MANIFEST.tsv is written last, once every file listed is in place: the tests
# take the corpus for present only then. Exits non-zero naming each file
# refused.
#   TIBROK_CORPUS_BASE_URL  where OWNER/REPO/COMMIT/PATH is fetched from
#                           (https://raw.githubusercontent.com)
#   TIBROK_CORPUS_MANIFEST  the manifest followed (scripts/corpus-manifest.tsv)
set -euo pipefail
export LC_ALL=C # bytes, not characters, when a path is encoded
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/../shared/corpus}
base=${TIBROK_CORPUS_BASE_URL:-https://raw.githubusercontent.com}
manifest=${TIBROK_CORPUS_MANIFEST:-$root/scripts/corpus-manifest.tsv}

bash "$root/scripts/install-deps.sh" fetch
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

# A path in a repository, percent-encoded, its slashes kept.
encode() {
  local s=$1 out="" c i
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    case $c in
      [A-Za-z0-9._~/-]) out+=$c ;;
      *) printf -v c '%%%02X' "'$c" && out+=$c ;;
    esac
  done
  printf '%s' "$out"
}

sum() { sha256sum "$1" | cut -d' ' -f1; }

tmp=""
trap 'rm -f "$tmp"' EXIT
name_form='^[A-Za-z0-9_][A-Za-z0-9._-]*$'
repo_form='^[A-Za-z0-9_.-]+/[A-Za-z0-9_.-]+$'
dot_step='/\.\.?/'
refused=()
kept=0 fetched=0
# name, repository, path, commit, size in bytes, sha256 (the last column).
rows=$(awk -F'\t' 'NR > 1 && $1 != "" {print $1 "\t" $2 "\t" $3 "\t" $4 "\t" $6 "\t" $NF}' "$manifest")
while IFS=$'\t' read -r name repo path commit size sha; do
  # The row becomes a file name and a URL: anything odd in it is refused
  # rather than let out of DIR or into another address.
  if ! [[ $name =~ $name_form && $repo =~ $repo_form && $commit =~ ^[0-9a-f]{40}$ &&
    $sha =~ ^[0-9a-f]{64}$ && $size =~ ^[0-9]+$ && -n $path && ! /$path/ =~ $dot_step ]]; then
    refused+=("$name (its manifest row is malformed)")
    continue
  fi
  if [ -f "$dir/$name" ] && [ "$(sum "$dir/$name")" = "$sha" ]; then
    kept=$((kept + 1))
    continue
  fi
  url="$base/$repo/$commit/$(encode "$path")"
  tmp=$(mktemp "$dir/.$name.XXXXXX")
  if ! curl --fail --silent --show-error --location --proto '=http,https' \
    --connect-timeout 20 --max-time 600 --max-filesize "$size" -o "$tmp" "$url"; then
    refused+=("$name (not fetched from $url)")
  elif [ "$(sum "$tmp")" != "$sha" ]; then
    refused+=("$name (sha256 $(sum "$tmp"), the manifest says $sha; from $url)")
  else
    chmod 644 "$tmp"
    mv -f "$tmp" "$dir/$name"
    fetched=$((fetched + 1))
    echo "fetched $name"
  fi
  rm -f "$tmp"
  tmp=""
done <<<"$rows"

if [ ${#refused[@]} -ne 0 ]; then
  for r in "${refused[@]}"; do echo "refused: $r" >&2; done
  echo "${#refused[@]} file(s) refused; $dir is not complete" >&2
  exit 1
fi
tmp=$(mktemp "$dir/.MANIFEST.tsv.XXXXXX")
cp "$manifest" "$tmp"
chmod 644 "$tmp"
mv -f "$tmp" "$dir/MANIFEST.tsv"
tmp=""
echo "corpus in $dir: $fetched fetched, $kept already there"
