#!/usr/bin/env bash
# The code page sweep: both builds over one probe database per code page.
#
#   scripts/e2e/codepage-sweep.sh WINDOWS_BUILD NATIVE_BUILD [CODEPAGE...]
#
# scripts/make-codepage-probes.py builds the databases (default: every code
# page Wine's msi.dll opens, and numbers it refuses). Then, with Wine's
# msi.dll as the oracle:
#   - every database that opens: the native engine's dump equals Wine's
#     (scripts/compare-engine-dumps.sh --batch: every string of the pool,
#     every byte pair, and the summary's texts, whose expected decoding is
#     Wine's decoding of the same bytes in the pool);
#   - the same databases through the plug-in: listings and extracted bytes
#     equal (scripts/e2e/compare-builds.sh --batch);
#   - every number Wine refuses: Wine says so (its msidb channel reports
#     "invalid codepage N", after which Wine's msi.dll faults inside its own
#     open), the native engine fails the open with 110 and the plug-in
#     refuses the file.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
win=${1:?usage: codepage-sweep.sh WINDOWS_BUILD NATIVE_BUILD [CODEPAGE...]}
native=${2:?usage: codepage-sweep.sh WINDOWS_BUILD NATIVE_BUILD [CODEPAGE...]}
shift 2
work=$(mktemp -d "${TMPDIR:-/tmp}/msiarc-codepages.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$here/scripts/make-codepage-probes.py" "$work" "$@" || { echo "FAIL: building the probes"; exit 1; }
shopt -s nullglob
opens=("$work"/opens/*.msi)
refused=("$work"/refused/*.msi)
status=0
if [ ${#opens[@]} -gt 0 ]; then
  echo "== engine dumps: ${#opens[@]} code pages"
  "$here/scripts/compare-engine-dumps.sh" --batch "$win" "$native" "${opens[@]}" > "$work/dumps" ||
    status=1
  grep -av '^same ' "$work/dumps"
  echo "== plug-in: listings and extracted bytes"
  "$here/scripts/e2e/compare-builds.sh" --batch "$native" "$win" "${opens[@]}" || status=1
fi
for db in "${refused[@]}"; do
  name=$(basename "$db" .msi)
  number=${name#cp-}
  case $number in x*) number=$((16#${number#x})) ;; *) number=$((10#$number)) ;; esac
  WINEDEBUG=warn+msidb WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" timeout 120 \
    "$here/scripts/wine-run.sh" "$win/tools/msidump/msidump.exe" "$db" > /dev/null 2> "$work/wine.err"
  dump=$("$native/tools/msidump/msidump" "$db" 2>&1)
  "$native/msiarc" list "$db" > /dev/null 2> "$work/native.err"
  listed=$?
  if ! grep -qa "invalid codepage $number\$" "$work/wine.err"; then
    echo "FAIL $name: Wine's msi.dll did not refuse code page $number"; status=1
  elif [ "$dump" != "$(printf 'database %s\nopen(110)' "$(basename "$db")")" ]; then
    echo "FAIL $name: the native engine answered: $(head -c 200 <<< "$dump")"; status=1
  elif [ $listed -ne 1 ]; then
    echo "FAIL $name: the plug-in listed it (exit $listed)"; status=1
  else
    echo "refused $number: $(head -1 "$work/native.err")"
  fi
done
echo "code page sweep: ${#opens[@]} that open, ${#refused[@]} refused, status $status"
exit $status
