#!/usr/bin/env bash
# Makes the package of a build folder with CPack and checks what it holds.
#
#   scripts/check-package.sh BUILD_DIR [DATABASE]
#
# Linux: the Debian package is named msiarc and described, holds exactly
# usr/bin/msiarc, usr/lib/msiarc/msiarc.so and the README and licence in
# usr/share/doc/msiarc/, and unpacked anywhere, its msiarc finds its
# plug-in without --plugin and lists DATABASE as the build's own host does.
# Windows: the zip holds exactly msiarc.dll, msiarc.exe, README.md and
# LICENSE, in one folder.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: check-package.sh BUILD_DIR [DATABASE]}" && pwd)
database=${2:-${MSIARC_CORPUS_DIR:-$here/../shared/corpus}/psmsi__Example.msi}
work=$(mktemp -d "${TMPDIR:-/tmp}/msiarc-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package: FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }

# same_list LABEL EXPECTED ACTUAL: both sorted, one name a line.
same_list() {
  [ "$2" = "$3" ] && return
  diff <(echo "$2") <(echo "$3")
  fail "$1"
}

if [ -f "$build/msiarc.dll" ]; then
  zip=$(ls "$work"/out/*.zip)
  files=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
  top=${files%%/*}
  expected=$(printf "$top/%s\n" LICENSE README.md msiarc.dll msiarc.exe)
  same_list "$(basename "$zip") holds other files" "$expected" "$files"
  echo "check-package: $(basename "$zip"): $(echo $files)"
  exit 0
fi

deb=$(ls "$work"/out/*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = msiarc ] || fail "package name is not msiarc"
[ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "no description"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
expected=$(printf '%s\n' ./usr/bin/msiarc ./usr/lib/msiarc/msiarc.so \
  ./usr/share/doc/msiarc/LICENSE ./usr/share/doc/msiarc/README.md | sort)
same_list "$(basename "$deb") holds other files" "$expected" "$files"

dpkg-deb -x "$deb" "$work/root"
"$work/root/usr/bin/msiarc" list "$database" >"$work/installed.txt" ||
  fail "the unpacked msiarc cannot list $database without --plugin"
"$build/msiarc" list "$database" >"$work/built.txt"
cmp -s "$work/installed.txt" "$work/built.txt" ||
  fail "the unpacked msiarc lists $database differently from the build's"
echo "check-package: $(basename "$deb"): $(echo $files); its msiarc lists $(wc -l <"$work/built.txt") entries"
