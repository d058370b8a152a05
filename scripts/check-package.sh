#!/usr/bin/env bash
# Makes the packages of a build folder with CPack and checks them as a user
# and a packager meet them.
#
#   scripts/check-package.sh BUILD_DIR [DATABASE]
#
# Every package carries the version `msiarc --version` prints. An install
# zip holds exactly pluginst.inf, the plug-in, the host, README.md and
# LICENSE at its root; pluginst.inf is one [plugininstall] section whose
# file= names the plug-in in the zip, which exports the 21 functions (a
# 64-bit DLL on Windows, an ELF shared object on Linux); unpacked, the
# zip's host lists DATABASE through the plug-in beside it (under wine on
# Windows) as the build's host does.
# Linux also: the Debian package holds exactly the host, its manual page,
# the plug-in in Double Commander's plug-in folder and README, changelog
# and copyright; lintian finds no error; the manual page renders without a
# warning and names every command and option of `msiarc --help`; unpacked
# anywhere, the package's host finds its plug-in without --plugin.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: check-package.sh BUILD_DIR [DATABASE]}" && pwd)
database=${2:-$("$here/scripts/corpus-dir.sh")/psmsi__Example.msi}
[ -f "$database" ] || { echo "check-package: missing database $database" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/msiarc-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package: FAIL: $*"; exit 1; }

if [ -f "$build/msiarc.dll" ]; then
  windows=1 plugin=msiarc.wcx64 host=msiarc.exe
  run() { "$here/scripts/wine-run.sh" "$@"; }
else
  windows='' plugin=msiarc.wcx host=msiarc
  run() { "$@"; }
fi
version=$(run "$build/$host" --version | tr -d '\r')
version=${version#msiarc }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }

# same_list LABEL EXPECTED ACTUAL: both sorted, one name a line.
same_list() {
  [ "$2" = "$3" ] && return
  diff <(echo "$2") <(echo "$3") || true
  fail "$1"
}

# lists_alike LABEL HOST PLUGIN: HOST lists the database as the build's
# host does; PLUGIN empty means the host finds its plug-in by itself.
run "$build/$host" list "$database" >"$work/built.txt"
lists_alike() {
  run "$2" ${3:+--plugin "$3"} list "$database" >"$work/listed.txt" ||
    fail "$1 cannot list $database"
  cmp -s "$work/listed.txt" "$work/built.txt" ||
    fail "$1 lists $database differently from the build's host"
}

# check_inf FILE PLUGIN: one [plugininstall] section (names of sections and
# keys without regard to case, as hosts read them), each key once, nothing
# else; line ends CRLF on Windows.
check_inf() {
  local entries expected
  if [ -n "$windows" ]; then
    [ "$(grep -c $'\r$' "$1")" = "$(wc -l <"$1")" ] || fail "pluginst.inf: not every line ends in CRLF"
  fi
  entries=$(tr -d '\r' <"$1" | awk '
    /^[ \t]*(;|$)/ { next }
    /^\[.*\]$/ { section = tolower(substr($0, 2, length($0) - 2)); next }
    /=/ { i = index($0, "="); print section "|" tolower(substr($0, 1, i - 1)) "=" substr($0, i + 1); next }
    { print "unparsed|" $0 }' | sort)
  description=$(sed -n 's/^plugininstall|description=//p' <<<"$entries")
  [ -n "$description" ] || fail "pluginst.inf: no description"
  expected=$(printf 'plugininstall|%s\n' "defaultdir=msiarc" "defaultextension=msi" \
    "description=$description" "file=$2" "type=wcx" "version=$version" | sort)
  same_list "pluginst.inf holds other entries" "$expected" "$entries"
}

# check_zip ZIP: its files, pluginst.inf, the plug-in it names, its host.
check_zip() {
  local files root=$work/zip
  files=$(cmake -E tar tf "$1" | grep -v '/$' | sort)
  same_list "$(basename "$1") holds other files" \
    "$(printf '%s\n' LICENSE README.md "$host" "$plugin" pluginst.inf | sort)" "$files"
  mkdir -p "$root"
  (cd "$root" && cmake -E tar xf "$1")
  check_inf "$root/pluginst.inf" "$plugin"
  if [ -n "$windows" ]; then
    objdump=$(command -v x86_64-w64-mingw32-objdump)
    "$objdump" -f "$root/$plugin" | grep -q 'file format pei-x86-64' ||
      fail "$plugin is not a 64-bit Windows DLL"
    "$here/scripts/check-exports.sh" "$root/$plugin" "$objdump" >/dev/null ||
      fail "$plugin does not export exactly the 21 functions"
  else
    readelf -h "$root/$plugin" | grep -Eq 'Type:[[:space:]]+DYN' ||
      fail "$plugin is not an ELF shared object"
    "$here/scripts/check-exports.sh" "$root/$plugin" >/dev/null ||
      fail "$plugin does not export exactly the 21 functions"
  fi
  # The plug-in beside the host, under the name hosts give it, and no other.
  lists_alike "the zip's $host" "$root/$host" ''
  echo "check-package: $(basename "$1"): $(echo $files)"
}

[ -n "$version" ] || fail "$host --version prints no version"
zip=$(ls "$work"/out/*.zip)
[ "$(basename "$zip")" = "msiarc-$version-$([ -n "$windows" ] && echo win64 || echo linux-x86_64).zip" ] ||
  fail "the zip is named $(basename "$zip")"
check_zip "$zip"
[ -n "$windows" ] && exit 0

deb=$(ls "$work"/out/*.deb)
[ "$(basename "$deb")" = "msiarc_${version}_amd64.deb" ] || fail "the package is named $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Package)" = msiarc ] || fail "package name is not msiarc"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
expected=$(printf '%s\n' ./usr/bin/msiarc ./usr/lib/doublecmd/plugins/wcx/msiarc/msiarc.wcx \
  ./usr/share/doc/msiarc/README.md ./usr/share/doc/msiarc/changelog.gz \
  ./usr/share/doc/msiarc/copyright ./usr/share/man/man1/msiarc.1.gz | sort)
same_list "$(basename "$deb") holds other files" "$expected" "$files"

status=0
lintian --fail-on error "$deb" >"$work/lintian.raw" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian.raw" >"$work/lintian.txt" || true
[ "$status" = 0 ] || { cat "$work/lintian.txt"; fail "lintian reports an error"; }

root=$work/root
dpkg-deb -x "$deb" "$root"
zcat "$root/usr/share/doc/msiarc/changelog.gz" | head -n1 | grep -q "^msiarc ($version) " ||
  fail "the changelog's last entry is not version $version"

# The manual page: renders without a warning, carries the version, and
# names every command and option the host's help does.
page=$root/usr/share/man/man1/msiarc.1.gz
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "$warnings"; fail "man -l warns about msiarc.1"; }
text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l -P cat "$page" 2>/dev/null)
grep -q "msiarc $version" <<<"$text" || fail "msiarc.1 does not carry version $version"
names=$("$build/msiarc" --help | awk '/^(commands|options):/ {on = 1; next}
  on && /^  [^ ]/ {sub(/^  /, ""); sub(/  .*/, ""); gsub(/[][]/, ""); n = split($0, w, /[ ,]+/); for (i = 1; i <= n; i++) if (w[i] ~ /^-|^[a-z]+$/) print w[i]}' | sort -u)
[ -n "$names" ] || fail "no commands in msiarc --help"
for name in $names "EXIT STATUS" EXAMPLES; do
  grep -qwF -- "$name" <<<"$text" || fail "msiarc.1 does not name $name"
done

lists_alike "the package's msiarc" "$root/usr/bin/msiarc" ''
[ "$("$root/usr/bin/msiarc" --version)" = "msiarc $version" ] || fail "the package's msiarc --version"
echo "check-package: $(basename "$deb"): $(echo $files); lintian: $(grep -c . "$work/lintian.txt" || true) lines, no error"
