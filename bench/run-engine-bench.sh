#!/usr/bin/env bash
# run-engine-bench.sh WINDOWS_BUILD NATIVE_BUILD [DATABASE...]
#
# Runs the engine benchmark over each database natively and under wine
# (msi.dll), on this machine, and prints the best round of each and the
# ratio wine/native of the end-to-end time (open + scan). Default databases:
# the generated standard case (scripts/make-large-db.sh, built once into
# NATIVE_BUILD/bench/large.msi) and every database of the test corpus.
# Use a release native build (preset native-release) for figures.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
win=${1:?usage: run-engine-bench.sh WINDOWS_BUILD NATIVE_BUILD [DATABASE...]}
native=${2:?usage: run-engine-bench.sh WINDOWS_BUILD NATIVE_BUILD [DATABASE...]}
shift 2
win_bench=$win/bench/msiarc_engine_bench.exe
native_bench=$native/bench/msiarc_engine_bench
rounds=${ROUNDS:-3}
if [ $# -eq 0 ]; then
  large=$native/bench/large.msi
  [ -f "$large" ] || "$here/scripts/make-large-db.sh" "$large"
  corpus=$("$here/scripts/corpus-dir.sh") || exit 2
  set -- "$large" "$corpus"/*.ms?
fi
best() { sed -n 's/^best .*total=\([0-9.]*\).*/\1/p'; }
printf '%-58s %10s %10s %8s\n' database native_s wine_s ratio
slower=0
for db in "$@"; do
  name=$(basename "$db")
  n_out=$("$native_bench" "$db" "$rounds" 2>/dev/null)
  w_out=$("$here/scripts/wine-run.sh" "$win_bench" "$db" "$rounds" 2>/dev/null | tr -d '\r')
  n=$(printf '%s\n' "$n_out" | best)
  w=$(printf '%s\n' "$w_out" | best)
  if [ -z "$n" ] || [ -z "$w" ]; then
    printf '%-58s %10s %10s %8s\n' "$name" "${n:--}" "${w:--}" "n/a"
    continue
  fi
  ratio=$(awk -v n="$n" -v w="$w" 'BEGIN { printf "%.1f", (n > 0 ? w / n : 0) }')
  mark=""
  if awk -v n="$n" -v w="$w" 'BEGIN { exit !(n > w) }'; then mark=" SLOWER"; slower=1; fi
  printf '%-58s %10.4f %10.4f %7sx%s\n' "$name" "$n" "$w" "$ratio" "$mark"
  if [ "$name" = large.msi ]; then
    printf '  native: %s\n  wine:   %s\n' "$(printf '%s\n' "$n_out" | grep '^best')" \
      "$(printf '%s\n' "$w_out" | grep '^best')"
  fi
done
exit $slower
