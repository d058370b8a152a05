#!/usr/bin/env bash
# run-whole-job.sh [DATABASE...]
#
# The host's whole job (load the plug-in, open, read every entry's header
# with its size, extract every entry, close) with both builds on this
# machine, in one run: bench/whole_job over msiarc.so natively and over
# msiarc.dll under wine (Wine's msi.dll). Default databases: the generated
# standard case (scripts/make-large-db.sh), the same with its tables listed
# (see below) and the three largest databases
# of the test corpus. Everything is extracted into a RAM-backed folder
# (/dev/shm, or RAM_DIR), and `cp -r` of the extracted tree within that
# folder is the floor: writing the same files and bytes with nothing to
# decode. Each figure is the best of its rounds (the machine is shared).
#
# Goals per database: the native whole job at least 20 times faster than
# wine's (wine's start-up included: it is part of the Windows build's cost),
# within 2 times of the floor, and a native peak resident set below twice
# the database's size plus 64 MiB. The exit code is 1 when a goal fails for
# either generated database (the first database named otherwise).
#
# Environment: ROUNDS (native and cp -r, default 5), WINE_ROUNDS (default
# 3), NATIVE_BUILD (default build/native-release), WINDOWS_BUILD (default
# build/windows), SKIP_BUILD=1, NO_WINE=1 (native and floor only),
# MSIARC_CORPUS_DIR, RAM_DIR.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
native=${NATIVE_BUILD:-$here/build/native-release}
win=${WINDOWS_BUILD:-$here/build/windows}
rounds=${ROUNDS:-5}
wine_rounds=${WINE_ROUNDS:-3}
ram=${RAM_DIR:-/dev/shm}
with_wine=$([ -n "${NO_WINE:-}" ] && echo 0 || echo 1)

fs_type=$(stat -f -c %T "$ram" 2>/dev/null || true)
if [ "$fs_type" != tmpfs ] && [ "$fs_type" != ramfs ]; then
  echo "run-whole-job.sh: $ram is not RAM-backed (${fs_type:-missing}); set RAM_DIR" >&2
  exit 2
fi

if [ -z "${SKIP_BUILD:-}" ]; then
  build() {  # build DIR PRESET
    [ -f "$1/CMakeCache.txt" ] || (cd "$here" && cmake --preset "$2" >/dev/null) || return 1
    cmake --build "$1" --target msiarc msiarc_whole_job -j2 >/dev/null
  }
  build "$native" native-release || { echo "run-whole-job.sh: native build failed" >&2; exit 2; }
  if [ "$with_wine" = 1 ]; then
    build "$win" windows || { echo "run-whole-job.sh: windows build failed" >&2; exit 2; }
  fi
fi

if [ $# -eq 0 ]; then
  large=$native/bench/large.msi
  if [ ! -f "$large" ]; then
    mkdir -p "$native/bench"
    "$here/scripts/make-large-db.sh" "$large" >/dev/null || exit 2
  fi
  # The same database with a _Validation table naming its two tables: the
  # plug-in lists only the tables _Validation names, so only this one has
  # the 100,000-row table rendered and the Binary cells extracted.
  listed=$native/bench/large-validated.msi
  if [ ! -f "$listed" ]; then
    idt=$(mktemp -d)
    {
      printf 'Table\tColumn\tNullable\tMinValue\tMaxValue\tKeyTable\tKeyColumn\tCategory\tSet\tDescription\r\n'
      printf 's32\ts32\ts4\tI4\tI4\tS255\tI2\tS32\tS255\tS255\r\n_Validation\tTable\tColumn\r\n'
      printf 'Rows\tId\tN\t1\t2147483647\t\t\t\t\tKey\r\n'
      printf 'Rows\tName\tN\t\t\t\t\tText\t\tName\r\n'
      printf 'Rows\tValue\tY\t-2147483647\t2147483647\t\t\t\t\tValue\r\n'
      printf 'Binary\tName\tN\t\t\t\t\tIdentifier\t\tKey\r\n'
      printf 'Binary\tData\tN\t\t\t\t\tBinary\t\tData\r\n'
    } >"$idt/_Validation.idt"
    cp "$large" "$idt/out.msi" &&
      (cd "$idt" && msibuild out.msi -i _Validation.idt) &&
      mv "$idt/out.msi" "$listed"
    rm -rf "$idt"
    [ -f "$listed" ] || exit 2
  fi
  corpus=$("$here/scripts/corpus-dir.sh") || exit 2
  mapfile -t largest < <(find "$corpus" -maxdepth 1 -type f \( -name '*.ms?' -o -name '*.cub' \) \
                           -printf '%s\t%p\n' |
                         sort -rn | head -3 | cut -f2)
  set -- "$large" "$listed" "${largest[@]}"
fi

work=$(mktemp -d "$ram/msiarc-whole-job.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT

# Wine: started once through the project's wrapper (prefix; the server stays
# a minute after its last program), then each timed run is one plain wine
# process, as a user's is.
if [ "$with_wine" = 1 ]; then
  export WINEPREFIX=${WINEPREFIX:-$here/build/wine-prefix}
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  "$here/scripts/wine-run.sh" "$win/bench/whole_job/msiarc_whole_job.exe" >/dev/null 2>&1
  wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
fi

now() { printf '%s' "${EPOCHREALTIME/[.,]/}"; }  # microseconds
# measure OUT_VAR COMMAND...: wall seconds of one run into OUT_VAR; the
# command's standard output into $work/out. Fails when the command does.
measure() {
  local -n into=$1
  shift
  local start end status
  start=$(now)
  "$@" >"$work/out" 2>"$work/err"
  status=$?
  end=$(now)
  into=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", (b - a) / 1e6 }')
  return $status
}
field() { tr -d '\r' <"$work/out" | sed -n "s/.*$1=\([0-9.-]*\).*/\1/p"; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 > a + 0) ? b : a }'; }

printf '%-44s %7s %7s %8s %8s %8s %7s %8s %7s %7s %7s  %s\n' \
  database MiB entries native_s wine_s wjob_s ratio cp-r_s n/floor peakMiB limMiB \
  'goals: x20 2xfloor memory'
fail=0
index=0
for db in "$@"; do
  index=$((index + 1))
  name=$(basename "$db")
  size=$(stat -c %s "$db")
  dest=$work/n$index
  n_best="" peak="" w_best="" w_job="" floor="" problem=""
  for ((r = 0; r < rounds; r++)); do
    rm -rf "$dest"
    if ! measure t "$native/bench/whole_job/msiarc_whole_job" "$native/msiarc.so" "$db" "$dest"; then
      problem="native extract failed: $(head -c 200 "$work/err")"
      break
    fi
    n_best=$(min "$n_best" "$t")
    peak=$(max "$peak" "$(field peak_kib)")
  done
  entries=$(find "$dest" -type f | wc -l)
  for ((r = 0; r < rounds; r++)); do
    rm -rf "$work/copy"
    measure t cp -r "$dest" "$work/copy" || problem="cp -r failed"
    floor=$(min "$floor" "$t")
  done
  rm -rf "$work/copy"
  if [ "$with_wine" = 1 ]; then
    wdest=$work/w$index
    for ((r = 0; r < wine_rounds; r++)); do
      rm -rf "$wdest"
      if ! measure t "$wine" "$win/bench/whole_job/msiarc_whole_job.exe" "$win/msiarc.dll" "$db" "$wdest"; then
        problem="${problem:+$problem; }wine extract failed"
        break
      fi
      w_best=$(min "$w_best" "$t")
      w_job=$(min "$w_job" "$(field job_s)")
    done
    w_entries=$(find "$wdest" -type f | wc -l)
    [ "$w_entries" = "$entries" ] ||
      problem="${problem:+$problem; }wine extracted $w_entries entries"
    rm -rf "$wdest"
  fi
  rm -rf "$dest"
  limit=$(( (2 * size + 64 * 1048576) / 1048576 ))
  read -r ratio per_floor peak_mib goals < <(awk -v n="$n_best" -v w="${w_best:-0}" \
      -v f="$floor" -v p="$peak" -v s="$size" -v wine="$with_wine" 'BEGIN {
    ratio = (n > 0 && wine) ? w / n : 0
    per = (f > 0) ? n / f : 0
    pm = p / 1024
    g1 = !wine ? "-" : (ratio >= 20 ? "PASS" : "FAIL")
    g2 = per <= 2 ? "PASS" : "FAIL"
    g3 = p * 1024 < 2 * s + 64 * 1048576 ? "PASS" : "FAIL"
    printf "%.1f %.2f %.1f %s/%s/%s\n", ratio, per, pm, g1, g2, g3 }')
  printf '%-44s %7.2f %7s %8.4f %8s %8s %7s %8.4f %7s %7s %7s  %s\n' \
    "${name:0:44}" "$(awk -v s="$size" 'BEGIN { print s / 1048576 }')" "$entries" \
    "$n_best" "${w_best:--}" "${w_job:--}" "$([ "$with_wine" = 1 ] && echo "${ratio}x" || echo -)" \
    "$floor" "${per_floor}x" "$peak_mib" "$limit" "$goals"
  if [ -n "$problem" ]; then
    echo "  $name: $problem" >&2
    fail=1
  fi
  if [ "$index" = 1 ] || [ "$db" = "${listed:-}" ]; then
    case $goals in *FAIL*) fail=1 ;; esac
  fi
done
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
  "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo); load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "wine_s is one wine process per run (start-up included; the server kept alive);" \
  "wjob_s the same job timed inside it. Best of $rounds native, $wine_rounds wine rounds."
echo "The goals hold the generated databases to account (the exit code); the corpus rows" \
  "are for reference: on a few MiB, Wine's msi.dll is quick and a process's start-up counts."
exit $fail
