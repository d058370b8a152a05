#!/usr/bin/env bash
# run-scale-bench.sh NATIVE_BUILD [DIR]
#
# How the native engine and the plug-in scale with the size of a database.
# Writes the databases below with scripts/msiwriter.py into DIR (default
# /dev/shm/msiarc-scale, a RAM disk; written once and kept), then times on
# each the engine reading everything (bench/msiarc_engine_bench: every row,
# every cell, every stream to its end) and the plug-in listing it (msiarc
# list), with the processor time (user and system) and the peak resident
# memory of each, by /usr/bin/time. Prints the best of ROUNDS runs (default
# 3). Use a Release build (preset native-release) on an otherwise idle
# machine; on a busy one the processor time is the figure to trust.
#
#   tables-N       N tables of three rows each (1,000, 10,000, 50,000)
#   validation-N   a _Validation naming N tables that do not exist
#   rows-1m        one table of 1,000,000 short text rows
#   streams-1m     a table of 1,000,000 rows, each with a stream of 9-15 bytes
#   cells-1m       a stream table of 1,000,000 rows whose streams are absent
#                  (every row listed, a record kept for each, no directory)
#   big-200m       one stream of 200 MiB, read in chunks of 1 MiB
#
# The last column divides the listing time by the number of tables or rows.
# The large stream's engine time reads it twice: as the cell of its table
# and as a row of _Streams.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: run-scale-bench.sh NATIVE_BUILD [DIR]}" && pwd)
dir=${2:-/dev/shm/msiarc-scale}
rounds=${ROUNDS:-3}
engine=$build/bench/msiarc_engine_bench
host=$build/msiarc
for tool in "$engine" "$host"; do
  [ -x "$tool" ] || { echo "missing $tool (build it first)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time; scripts/bootstrap.sh installs it)" >&2; exit 2; }
mkdir -p "$dir"

cases=(
  "tables-1000 tables 1000"
  "tables-10000 tables 10000"
  "tables-50000 tables 50000"
  "validation-8000 validation 8000"
  "validation-32000 validation 32000"
  "rows-1m rows 1000000"
  "streams-1m streams 1000000"
  "cells-1m cells 1000000"
  "big-200m big-stream 200"
)

# best CMD...: runs CMD ROUNDS times; prints the least seconds, the least
# processor seconds and the least peak resident MiB.
best() {
  local t c m bt="" bc="" bm="" out
  out=$(mktemp)
  for _ in $(seq "$rounds"); do
    /usr/bin/time -f '%e %U %S %M' -o "$out" "$@" > /dev/null 2>&1 || { echo "- - -"; rm -f "$out"; return; }
    read -r t u s m < <(tail -n 1 "$out")
    c=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
    if [ -z "$bt" ] || awk -v a="$t" -v b="$bt" 'BEGIN { exit !(a < b) }'; then bt=$t; fi
    if [ -z "$bc" ] || awk -v a="$c" -v b="$bc" 'BEGIN { exit !(a < b) }'; then bc=$c; fi
    if [ -z "$bm" ] || [ "$m" -lt "$bm" ]; then bm=$m; fi
  done
  rm -f "$out"
  echo "$bt $bc $(awk -v m="$bm" 'BEGIN { printf "%.1f", m / 1024 }')"
}

printf '%-18s %9s %9s %10s %9s %9s %10s %12s\n' database engine_s cpu_s peak_MiB list_s cpu_s peak_MiB list_us/item
for c in "${cases[@]}"; do
  read -r name kind count <<< "$c"
  db=$dir/$name.msi
  if [ ! -f "$db" ]; then
    python3 "$here/scripts/msiwriter.py" "$kind" "$count" "$db.part"
    mv "$db.part" "$db"
  fi
  chunk=65536
  [ "$kind" = big-stream ] && chunk=1048576
  read -r et ec em < <(best "$engine" "$db" 1 "$chunk")
  read -r lt lc lm < <(best "$host" list "$db")
  items=$count
  [ "$kind" = big-stream ] && items=0
  printf '%-18s %9s %9s %10s %9s %9s %10s %12s\n' "$name" "$et" "$ec" "$em" "$lt" "$lc" "$lm" \
    "$(awk -v t="$lt" -v n="$items" 'BEGIN { if (t == "-" || n == 0) print "-"; else printf "%.2f", t * 1e6 / n }')"
done
