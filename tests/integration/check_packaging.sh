#!/usr/bin/env bash
# Checks the desktop integration files and the install tree.
#
#   check_packaging.sh SRC_DIR BUILD_DIR [--deb]
#
# The launcher and the AppStream entry must validate cleanly and name each
# other, the program, and its icon; `cmake --install` into a scratch DESTDIR
# must give exactly the Debian layout, with bin/ linking to the real
# executable beside its movie files. With --deb, CPack's package must hold the
# same tree, stripped, with sane modes, and depend on every library the
# program links.
set -euo pipefail

src=$(realpath "$1")
build=$(realpath "$2")
want_deb=${3:-}
app_id=org.tibrok.FlvPlayer
exe=tibrok-flv-player

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
need() {
  command -v "$1" >/dev/null || { echo "FAIL: $1 is not installed (scripts/install-deps.sh)" >&2; exit 1; }
}
need desktop-file-validate
need appstreamcli

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

desktop=$src/packaging/$app_id.desktop
metainfo=$src/packaging/$app_id.metainfo.xml

desktop_key() { sed -n "s/^$1=//p" "$desktop"; }

# --- launcher and AppStream entry
if ! out=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$out" ]; then
  fail "desktop-file-validate: $out"
fi
# --strict fails on anything above a pedantic note (the id's capitals are one).
out=$(appstreamcli validate --no-net --strict --no-color "$metainfo" 2>&1) ||
  fail "appstreamcli validate: $out"

# The program reads its whole command line as one address, so the launcher
# must pass exactly one file or URL, and must run the installed command.
exec_line=$(desktop_key Exec)
read -r -a exec_words <<<"$exec_line"
if [ "${#exec_words[@]}" -ne 2 ] || [ "${exec_words[0]}" != "$exe" ] ||
   { [ "${exec_words[1]}" != %f ] && [ "${exec_words[1]}" != %u ]; }; then
  fail "Exec=$exec_line must be '$exe' and one %f or %u"
fi
icon_name=$(desktop_key Icon)
[ "$icon_name" = "$exe" ] || fail "Icon=$icon_name is not the installed icon name $exe"
grep -q "<id>$app_id</id>" "$metainfo" || fail "metainfo id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
  fail "metainfo does not launch $app_id.desktop"
for type in $(desktop_key MimeType | tr ';' ' '); do
  grep -q "<mediatype>$type</mediatype>" "$metainfo" || fail "metainfo does not provide $type"
done
grep -q "<release version=\"$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")\"" \
  "$metainfo" || fail "metainfo has no release for the project version"

# --- install tree
dest=$tmp/dest
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
root=$dest/usr
pkgdir=$root/lib/$exe
link=$root/bin/$exe

if [ ! -L "$link" ]; then
  fail "bin/$exe is not a symbolic link"
else
  target=$(readlink "$link")
  case $target in /*) fail "bin/$exe links to the absolute path $target" ;; esac
  [ "$(realpath -m "$link")" = "$(realpath -m "$pkgdir/$exe")" ] ||
    fail "bin/$exe links to $target, not lib/$exe/$exe"
fi
if [ ! -f "$pkgdir/$exe" ] || [ ! -x "$pkgdir/$exe" ]; then fail "lib/$exe/$exe is not an executable file"; fi
for movie in player.n player22.swf; do
  cmp -s "$src/assets/movies/$movie" "$pkgdir/$movie" || fail "lib/$exe/$movie is not the asset $movie"
done

expected=("bin/$exe" "lib/$exe/$exe" "lib/$exe/player.n" "lib/$exe/player22.swf"
  "share/applications/$app_id.desktop" "share/metainfo/$app_id.metainfo.xml"
  "share/man/man1/$exe.1.gz"
  "share/doc/$exe/copyright" "share/doc/$exe/changelog.Debian.gz"
  "share/lintian/overrides/$exe")
cmp -s "$desktop" "$root/share/applications/$app_id.desktop" || fail "installed desktop file differs"
cmp -s "$metainfo" "$root/share/metainfo/$app_id.metainfo.xml" || fail "installed metainfo differs"
cmp -s "$src/packaging/copyright" "$root/share/doc/$exe/copyright" || fail "installed copyright differs"

# Every size the asset script draws, under the name the launcher asks for.
for png in "$src"/assets/icon/hicolor/*/"$exe.png"; do
  size=$(basename "$(dirname "$png")")
  installed=share/icons/hicolor/$size/apps/$icon_name.png
  expected+=("$installed")
  cmp -s "$png" "$root/$installed" || fail "$installed is missing or not the $size asset"
done

# Compressed without name or time stamp, so rebuilding gives the same bytes.
for pair in "share/man/man1/$exe.1.gz:packaging/$exe.1" "share/doc/$exe/changelog.Debian.gz:packaging/changelog"; do
  gz=$root/${pair%%:*}
  zcat "$gz" 2>/dev/null | cmp -s - "$src/${pair#*:}" || fail "${pair%%:*} does not unpack to ${pair#*:}"
  # Bytes 3-7 of a gzip header: flags, then the modification time.
  [ "$(od -A n -t x1 -j 3 -N 5 "$gz" | tr -d ' ')" = 0000000000 ] ||
    fail "${pair%%:*} records a name or a time stamp"
done
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$root/share/man/man1/$exe.1.gz" 2>&1 >/dev/null) ||
    fail "man cannot format the manual page"
  [ -z "$warnings" ] || fail "manual page warnings: $warnings"
fi

actual=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$actual" != "$wanted" ]; then
  fail "install tree differs from the expected layout:
$(diff <(echo "$wanted") <(echo "$actual") | grep '^[<>]')"
fi

# --- Debian package
if [ "$want_deb" = --deb ]; then
  need cpack
  need dpkg-deb
  need file
  (cd "$build" && cpack -G DEB -B "$tmp/deb") >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log" >&2; fail "cpack failed"; exit 1; }
  debs=("$tmp"/deb/*.deb)
  if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "cpack did not make exactly one package"
    exit 1
  fi
  deb=${debs[0]}

  listing=$(dpkg-deb -c "$deb")
  deb_paths=$(awk '$1 !~ /^d/ {print $6}' <<<"$listing" | sed 's|^\./usr/||' | sort)
  [ "$deb_paths" = "$wanted" ] || fail "package contents differ from the install tree:
$(diff <(echo "$wanted") <(echo "$deb_paths") | grep '^[<>]')"
  bad_owner=$(awk '$2 != "root/root"' <<<"$listing")
  [ -z "$bad_owner" ] || fail "not owned by root: $bad_owner"
  # Directories and the program 0755, links 0777, everything else 0644.
  bad_mode=$(awk -v exe="./usr/lib/$exe/$exe" '
    ($1 ~ /^d/ && $1 != "drwxr-xr-x") || ($1 ~ /^l/ && $1 != "lrwxrwxrwx") ||
    ($1 ~ /^-/ && $1 != ($6 == exe ? "-rwxr-xr-x" : "-rw-r--r--"))' <<<"$listing")
  [ -z "$bad_mode" ] || fail "unexpected modes: $bad_mode"
  grep -Fq "./usr/bin/$exe -> ../lib/$exe/$exe" <<<"$listing" ||
    fail "the package's bin/$exe is not the relative link"

  dpkg-deb -x "$deb" "$tmp/unpacked"
  kind=$(file -b "$tmp/unpacked/usr/lib/$exe/$exe")
  case $kind in *", stripped"*) ;; *) fail "packaged executable is not stripped: $kind" ;; esac

  # dpkg-shlibdeps has to have found the package behind every linked library.
  depends=$(dpkg-deb -f "$deb" Depends)
  # Whole outputs are read before they are searched: a reader that stops
  # early would end the writer with SIGPIPE, which pipefail makes fatal.
  linked=$(ldd "$pkgdir/$exe")
  dynamic=$(readelf -d "$pkgdir/$exe")
  while read -r name; do
    # The dynamic loader is listed by its path, the rest as "name => path".
    lib=$(awk -v n="$name" '$1 == n && !found {print $3; found = 1}
      substr($1, length($1) - length(n)) == "/" n && !found {print $1; found = 1}' <<<"$linked")
    [ -n "$lib" ] || { fail "ldd does not find $name"; continue; }
    owner=$(dpkg -S "$lib" 2>/dev/null || dpkg -S "$(realpath "$lib")" 2>/dev/null) ||
      { fail "no package owns $lib"; continue; }
    owner=${owner%%:*}
    sed 's/ *([^)]*)//g; s/ *[,|] */\n/g' <<<"$depends" | grep -Fxq "$owner" || fail "Depends lacks $owner (for $lib): $depends"
  done < <(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic")
  # libmpv is loaded at run time: not linked, so its package is named by hand.
  if grep -q 'NEEDED.*libmpv' <<<"$dynamic"; then
    fail "the program links libmpv instead of loading it when needed"
  fi
  cache=$(ldconfig -p)
  mpvlib=$(awk '$1 == "libmpv.so.2" && /x86-64|x86_64/ && !found {print $NF; found = 1}' <<<"$cache")
  mpvowner=$(dpkg -S "$mpvlib" 2>/dev/null || dpkg -S "$(realpath "$mpvlib")" 2>/dev/null) || true
  mpvowner=${mpvowner%%:*}
  [ -n "$mpvowner" ] || fail "no package owns libmpv.so.2 ($mpvlib)"
  sed 's/ *([^)]*)//g; s/ *[,|] */\n/g' <<<"$depends" | grep -Fxq "$mpvowner" ||
    fail "Depends lacks $mpvowner (libmpv.so.2, loaded at run time): $depends"
  [ "$(dpkg-deb -f "$deb" Package)" = "$exe" ] || fail "package name is not $exe"
  [ "$(dpkg-deb -f "$deb" Section)" = video ] || fail "package section is not video"
  version=$(dpkg-parsechangelog -l "$src/packaging/changelog" -S Version 2>/dev/null ||
            sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' "$src/packaging/changelog")
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not the changelog's $version"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "packaging checks passed"
