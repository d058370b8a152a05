#!/usr/bin/env bash
# Lists and extracts every corpus database with the Linux and the Windows
# host (under wine) and compares: the listings (names with separators
# mapped, sizes, order) and the extracted trees byte for byte, except the
# date and time texts of _SummaryInformation.csv, which follow each
# platform's locale.
#   tests/plugin/compare-builds.sh NATIVE_BUILD WINDOWS_BUILD [CORPUS_DIR]
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
native=${1:?usage: compare-builds.sh NATIVE_BUILD WINDOWS_BUILD [CORPUS]}
windows=${2:?usage: compare-builds.sh NATIVE_BUILD WINDOWS_BUILD [CORPUS]}
corpus=${3:-$here/../shared/corpus}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
failures=0
count=0
for db in "$corpus"/*.* "$corpus"/broken/*; do
  [ -f "$db" ] || continue
  case $db in *.tsv) continue ;; esac
  name=$(basename "$db")
  # Wine's own open crashes on this file.
  [ "$name" = mimetype__msi-4096-truncated.msi ] && wine_skip=1 || wine_skip=0
  count=$((count + 1))
  n=$work/n/$name w=$work/w/$name
  # The summary file's size follows the locale's date texts: not compared.
  summary='s/^[0-9]*\t(_SummaryInformation\.csv)$/-\t\1/'
  "$native/msiarc" list "$db" 2>/dev/null | cut -f1,3 | sed -E "$summary" > "$work/n.list"
  "$native/msiarc" extract "$db" "$n" 2> "$work/n.err"
  nrc=$?
  if [ $wine_skip = 1 ]; then
    echo "native only: $name: exit $nrc $(head -1 "$work/n.err")"
    continue
  fi
  "$here/scripts/wine-run.sh" "$windows/msiarc.exe" list "$db" | tr -d '\r' | cut -f1,3 | tr '\\' '/' | sed -E "$summary" > "$work/w.list"
  "$here/scripts/wine-run.sh" "$windows/msiarc.exe" extract "$db" "$w" 2> "$work/w.err"
  wrc=$?
  sed -i 's/\r$//' "$work/w.err"
  if [ $nrc != 0 ] && [ $wrc != 0 ] && [ ! -e "$n" ] && [ ! -e "$w" ] &&
     diff -q "$work/n.err" "$work/w.err" > /dev/null; then
    echo "both refuse: $name: $(head -1 "$work/n.err")"
    continue
  fi
  if [ $nrc != 0 ] || [ $wrc != 0 ]; then
    echo "FAIL extract $name: native $nrc, windows $wrc"
    cat "$work/n.err" "$work/w.err"
    failures=$((failures + 1))
  fi
  if ! diff -q "$work/n.list" "$work/w.list" > /dev/null; then
    echo "FAIL listings differ: $name"
    diff "$work/n.list" "$work/w.list" | head -10
    failures=$((failures + 1))
  fi
  for tree in "$n" "$w"; do
    f=$tree/_SummaryInformation.csv
    [ -f "$f" ] && sed -i -E '/^"(Last Printed|Create Time \/ Date|Last Save Time \/ Date)",/d' "$f"
  done
  if ! diff -r "$n" "$w" > "$work/tree.diff" 2>&1; then
    echo "FAIL trees differ: $name"
    head -10 "$work/tree.diff"
    failures=$((failures + 1))
  fi
done
echo "$count databases, $failures failures"
[ $failures = 0 ]
