#!/usr/bin/env bash
# run-table-bench.sh: what listing an archive costs per table as the number
# of tables grows. Run it by hand, on a machine as idle as can be had.
#
# Writes with scripts/msiwriter.py, into a RAM-backed folder (kept between
# runs):
#   tables-N       N tables of three rows each, N = 1,000, 10,000, 50,000
#   validation-N   a _Validation naming N tables that do not exist, beside
#                  one real table, N = 8,000 and 32,000
# and times each with bench/tables (msiarc_table_bench: the catalogue built
# phase by phase and every header listed, timed inside the process):
# natively (the native engine) and with the Windows build under wine
# (Wine's msi.dll; the validation databases only, unless WINE_TABLES=1).
# Prints each phase's best time and the whole listing per table.
#
# Goals (exit status 1 when one fails):
#   - natively, the time per table at 10,000 and 50,000 tables is at most
#     1.5 times that at 1,000, and 50,000 tables list in under a second;
#   - under wine, 32,000 validation names take at most 6 times as long as
#     8,000 (4 times is linear).
#
# Environment: NATIVE_BUILD (default build/native-release), WINDOWS_BUILD
# (default build/windows), NO_WINE=1, ROUNDS (default 3), RAM_DIR (default
# /dev/shm), MSIWRITER (default scripts/msiwriter.py).
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
native=${NATIVE_BUILD:-$here/build/native-release}/bench/tables/msiarc_table_bench
win=${WINDOWS_BUILD:-$here/build/windows}/bench/tables/msiarc_table_bench.exe
rounds=${ROUNDS:-3}
ram=${RAM_DIR:-/dev/shm}
writer=${MSIWRITER:-$here/scripts/msiwriter.py}

fail() { echo "run-table-bench.sh: $*" >&2; exit 2; }
[ -f "$writer" ] || fail "needs the database writer $writer"
[ -x "$native" ] || fail "no $native (cmake --build --preset native-release --target msiarc_table_bench)"
if [ -z "${NO_WINE:-}" ]; then
  [ -f "$win" ] || fail "no $win (cmake --build --preset windows --target msiarc_table_bench), or NO_WINE=1"
fi
dir=$ram/msiarc-table-bench
mkdir -p "$dir"

# database KIND N: the path of the database, written on first use.
database() {
  local db=$dir/$1-$2.msi
  if [ ! -f "$db" ]; then
    python3 "$writer" "$1" "$2" "$db.part" && mv "$db.part" "$db" || fail "writing $db failed"
  fi
  echo "$db"
}

status=0
# report LABEL COUNT... < lines of msiarc_table_bench: one line per database,
# the phases and the whole per table (or per name); checks the goals.
report() {
  local label=$1
  awk -v label="$label" -v status_file="$dir/status" '
    function value(key,   i, kv) {
      for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == key) return kv[2] }
      return ""
    }
    /not opened/ { print "  " $0; failed = 1; next }
    {
      n = $1; sub(/.*\//, "", n); sub(/\.msi$/, "", n)
      count = n; sub(/.*-/, "", count)
      total = value("discover_s") + value("tables_s") + value("entries_s") + value("list_s")
      each = total * 1e6 / count
      printf "%-6s %-18s %9.4f %9.4f %9.4f %9.4f %9.4f %9.2f\n", label, n,
             value("discover_s"), value("tables_s"), value("entries_s"), value("list_s"),
             total, each
      if (n ~ /^tables-/) {
        if (count == 1000) first = each
        else if (first > 0 && each > 1.5 * first) {
          printf "  FAIL: %.2f times the time per table at 1,000\n", each / first; failed = 1
        }
        if (count == 50000 && label == "native" && total >= 1) {
          print "  FAIL: 50,000 tables take a second or more"; failed = 1
        }
      }
      if (n ~ /^validation-/) whole[count] = total
    }
    END {
      if (whole[8000] > 0 && whole[32000] > 0) {
        r = whole[32000] / whole[8000]
        printf "  %s: 32,000 validation names take %.2f times as long as 8,000 (goal: at most 6)\n", label, r
        if (r > 6) failed = 1
      }
      if (failed) print 1 > status_file
    }'
}

rm -f "$dir/status"
printf '%-6s %-18s %9s %9s %9s %9s %9s %9s\n' build database discover tables entries list \
  total_s us/table
dbs=()
for n in 1000 10000 50000; do dbs+=("$(database tables "$n")"); done
for n in 8000 32000; do dbs+=("$(database validation "$n")"); done
"$native" --rounds "$rounds" "${dbs[@]}" | report native
if [ -z "${NO_WINE:-}" ]; then
  wdbs=("${dbs[@]:3}")
  [ -n "${WINE_TABLES:-}" ] && wdbs=("${dbs[@]}")
  WINEDEBUG=-all "$here/scripts/wine-run.sh" "$win" --rounds "$rounds" "${wdbs[@]}" | tr -d '\r' |
    report wine
fi
[ -f "$dir/status" ] && status=1
exit "$status"
