#!/usr/bin/env bash
# The full bad-input sweep: every broken corpus file and every damaged
# variant of every corpus database through the plug-in (ctest runs a bounded
# subset of the same test).
#   scripts/e2e/sweep.sh BUILD_DIR [DATABASE_NAME]
# BUILD_DIR is a native build (ASan + UBSan + LeakSanitizer) or, for the
# Windows build under wine, a Windows build folder. MSIARC_SWEEP_LIMIT sets
# the per-file time limit in seconds (default 60), MSIARC_SWEEP_STRIDE=N
# runs every N-th variant only.
#
# Under wine, Wine's own msi.dll crashes on some damaged files. The sweep
# then goes on after the variant that crashed, and the variant is run
# through msidump.exe, which loads no plug-in: a crash there too places the
# fault in the platform. Otherwise msiarc.exe runs it under Wine's debugger,
# and unless the faulting frame is in msi.dll the sweep fails. A variant that hangs is
# treated alike (the per-file limit is 15 s here). Crashed inputs are kept
# in BUILD_DIR/sweep-crashes/.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: sweep.sh BUILD_DIR [DATABASE_NAME]}" && pwd)
export MSIARC_SWEEP=full
[ $# -ge 2 ] && export MSIARC_SWEEP_ONLY=$2
if [ ! -f "$build/tests/msiarc_e2e_tests.exe" ]; then
  exec "$build/tests/msiarc_e2e_tests" --gtest_filter='BadInput.*'
fi

# Wine's own open never returns on some damaged files: a shorter limit.
export MSIARC_SWEEP_LIMIT=${MSIARC_SWEEP_LIMIT:-15}
# A crash ends the program at once: no debugger, no backtrace.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
wine() { "$here/scripts/wine-run.sh" "$@"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
work="$build/sweep-work"
crashes="$build/sweep-crashes"
rm -rf "$work" "$crashes"
mkdir -p "$work" "$crashes"
export MSIARC_SWEEP_DIR
export MSIARC_SWEEP_PROGRESS
MSIARC_SWEEP_DIR=$(winpath "$work/files")
MSIARC_SWEEP_PROGRESS=$(winpath "$work/progress")

# The first frame of Wine's backtrace when `msiarc.exe test` or `extract`
# crashes on FILE; nothing when neither does.
top_frame() {
  local out
  rm -rf "$work/extract"
  for args in "test $(winpath "$1")" "extract $(winpath "$1") $(winpath "$work/extract")"; do
    # shellcheck disable=SC2086 # the arguments hold no spaces
    out=$(WINEDLLOVERRIDES="mscoree,mshtml=" timeout 120 \
      "$here/scripts/wine-run.sh" "$build/msiarc.exe" $args 2>&1 || true)
    if grep -q '^=>0' <<< "$out"; then
      grep -m1 '^=>0' <<< "$out" | tr -d '\r'
      return
    fi
  done
}

status=0
wine "$build/tests/msiarc_e2e_tests.exe" --gtest_filter='BadInput.Broken*' || status=1

# Figures over every segment: files refused opened entries extracted, codes.
declare -a totals=(0 0 0 0 0)
declare -A codes=()
platform=0
from=0
while :; do
  rm -f "$work/progress"
  result=0
  MSIARC_SWEEP_FROM=$from wine "$build/tests/msiarc_e2e_tests.exe" \
    --gtest_filter='BadInput.Damaged*' > "$work/segment.log" 2>&1 || result=$?
  grep -E '^\[  (FAILED|  OK) |Failure|HANG|: (open|ProcessFileW|ReadHeaderExW|CloseArchive|file written)' \
    "$work/segment.log" || true
  if [ ! -f "$work/progress" ]; then
    echo "sweep.sh: the test program ended without figures (exit $result)" >&2
    tail -20 "$work/segment.log" >&2
    exit 1
  fi
  read -r _ files refused opened entries extracted rest < <(tr -d '\r' < "$work/progress" | grep '^tally ')
  figures=("$files" "$refused" "$opened" "$entries" "$extracted")
  for i in 0 1 2 3 4; do totals[i]=$(( totals[i] + figures[i] )); done
  for pair in $rest; do
    codes[${pair%%:*}]=$(( ${codes[${pair%%:*}]:-0} + ${pair##*:} ))
  done
  current=$(tr -d '\r' < "$work/progress" | grep '^current ' || true)
  if [ -z "$current" ]; then
    [ "$result" -eq 0 ] || status=1
    break
  fi
  # The program died inside a variant: is it the platform's engine alone?
  read -r _ index label <<< "$current"
  kept="$crashes/variant-$index.msi"
  cp "$work/files/input.msi" "$kept"
  dump=0
  timeout 15 "$here/scripts/wine-run.sh" "$build/tools/msidump/msidump.exe" \
    "$(winpath "$kept")" > /dev/null 2>&1 || dump=$?
  if [ "$dump" -gt 2 ]; then
    echo "platform crash (msidump.exe dies too, exit $dump): #$index $label"
    platform=$(( platform + 1 ))
  else
    # msidump survives (a stray read may land elsewhere in its memory):
    # the host tool's own run under Wine's debugger names the faulting code.
    frame=$(top_frame "$kept")
    if [[ $frame == *" in msi ("* ]]; then
      echo "platform crash (faults inside msi.dll: ${frame:0:120}...): #$index $label"
      platform=$(( platform + 1 ))
    else
      echo "CRASH in the plug-in (msidump.exe exit $dump; ${frame:-no backtrace}): #$index $label, kept as $kept" >&2
      status=1
    fi
  fi
  # Nothing of the dead program may linger and hold the work files.
  server=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
  WINEPREFIX=${WINEPREFIX:-$here/build/wine-prefix} "$server" -k 2>/dev/null || true
  from=$(( index + 1 ))
done

grep -a "left to the native build" "$work/segment.log" || true
summary=""
for code in $(printf '%s\n' "${!codes[@]}" | sort -n); do summary+=" $code:${codes[$code]}"; done
echo "damaged variants under wine: ${totals[0]} inputs, ${totals[1]} refused at open," \
  "${totals[2]} opened, ${totals[3]} entries listed, ${totals[4]} extracted;" \
  "non-zero codes${summary:- none}; $platform crashed inside Wine's msi.dll"
exit "$status"
