#!/usr/bin/env bash
# compare-cut-stream.sh NATIVE_BUILD WINDOWS_BUILD DATABASE
#
# Both builds on a database that ends inside a stream's chain (the fixture
# cut-in-stream): each extracts the bytes the file still holds of
# Binary/cut (3,684 of its 30,000, the start of `seq 1 20000`), reports that
# entry as failed, since its content is shorter than its listed size, and
# extracts Binary/whole whole. The operation "test" fails the same entries
# on both. Messages are compared with the separator mapped.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
native=${1:?usage: compare-cut-stream.sh NATIVE_BUILD WINDOWS_BUILD DATABASE}
windows=${2:?usage: compare-cut-stream.sh NATIVE_BUILD WINDOWS_BUILD DATABASE}
db=${3:?usage: compare-cut-stream.sh NATIVE_BUILD WINDOWS_BUILD DATABASE}
work=$(mktemp -d "${TMPDIR:-/tmp}/msiarc-cut-stream.XXXXXX")
trap 'rm -rf "$work"' EXIT
wine() { timeout 600 "$here/scripts/wine-run.sh" "$@"; }
tidy() { tr -d '\r' | sed -e "s|$windows/msiarc.exe|msiarc|" -e 's|\\|/|g'; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

seq 1 20000 > "$work/numbers"
head -c 3684 "$work/numbers" > "$work/cut"
head -c 300 "$work/numbers" > "$work/whole"

"$native/msiarc" extract "$db" "$work/n" Binary/cut Binary/whole 2> "$work/n.err"
nrc=$?
wine "$windows/msiarc.exe" extract "$db" "$work/w" Binary/cut Binary/whole 2>&1 >/dev/null | tidy > "$work/w.err"
wrc=${PIPESTATUS[0]}
for side in n w; do
  for entry in cut whole; do
    cmp -s "$work/$side/Binary/$entry" "$work/$entry" ||
      fail "$side: Binary/$entry is not the bytes the file holds ($(stat -c %s "$work/$side/Binary/$entry" 2>/dev/null || echo no) bytes)"
  done
done
[ $nrc -eq 1 ] && [ $wrc -eq 1 ] || fail "extract exit status: native $nrc, windows $wrc (1 expected)"
cmp -s "$work/n.err" "$work/w.err" || fail "extract messages differ: $(diff "$work/n.err" "$work/w.err" | grep '^[<>]' | tr '\n' ' ')"
grep -qx 'msiarc extract: Binary/cut: data is damaged' "$work/n.err" || fail "native does not report Binary/cut: $(head -3 "$work/n.err" | tr '\n' ' ')"

"$native/msiarc" test "$db" > "$work/n.out" 2> "$work/n.err"
nrc=$?
wine "$windows/msiarc.exe" test "$db" 2> "$work/w.raw" | tidy > "$work/w.out"
wrc=${PIPESTATUS[0]}
tidy < "$work/w.raw" > "$work/w.err"
[ $nrc -eq 1 ] && [ $wrc -eq 1 ] || fail "test exit status: native $nrc, windows $wrc (1 expected)"
cmp -s "$work/n.err" "$work/w.err" && cmp -s "$work/n.out" "$work/w.out" ||
  fail "test reports differ: $(cat "$work/n.out" "$work/n.err" | tr '\n' ' ') / $(cat "$work/w.out" "$work/w.err" | tr '\n' ' ')"
grep -qx 'msiarc test: Binary/cut: data is damaged' "$work/n.err" || fail "native test does not report Binary/cut"

echo "$failures failures"
[ $failures -eq 0 ]
