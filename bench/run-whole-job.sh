#!/usr/bin/env bash
# run-whole-job.sh [DATABASE...]
#
# The host's whole job (load the plug-in, open, read every entry's header
# with its size, extract every entry, close) against the floor of copying
# the same tree: bench/whole_job over msiarc.so natively, `cp -r` of the
# extracted tree within the same RAM-backed folder (/dev/shm, or RAM_DIR),
# and 7-Zip's raw extraction (`7z x -tCompound`) against its own tree's
# `cp -r`, alternated, in one run. With Wine (unless NO_WINE=1) the Windows
# build does the same job and its tree must equal the native one byte for
# byte. Each figure is the best of its rounds (the machine is shared).
#
# Default databases, generated once into NATIVE_BUILD/bench/:
#   stream.msi     one stream of 200 MiB (scripts/msiwriter.py big-stream,
#                  else msibuild)
#   large.msi      scripts/make-large-db.sh with a _Validation naming its
#                  tables: 2,000 streams and a 100,000-row table
#   rows.msi       one table of 1,000,000 short rows (scripts/msiwriter.py
#                  rows; left out without it)
#   and the three largest databases of the corpus.
# Goals: stream.msi peak at most 32 MiB and time at most 1.15 x floor;
# large.msi at most 1.3 x floor and a peak at most 32 MiB above the
# engine's own (bench/engine_bench reading the whole database); rows.msi at
# most 8 x floor; a corpus database no further from its floor than 7-Zip.
# The exit code is 1 when a goal fails or the builds' trees differ.
#
# Environment: ROUNDS (default 5), WINE_ROUNDS (default 2), NATIVE_BUILD
# (default build/native-release), WINDOWS_BUILD (default build/windows),
# SKIP_BUILD=1, NO_WINE=1, MSIARC_CORPUS_DIR, RAM_DIR.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
native=${NATIVE_BUILD:-$here/build/native-release}
win=${WINDOWS_BUILD:-$here/build/windows}
rounds=${ROUNDS:-5}
wine_rounds=${WINE_ROUNDS:-2}
ram=${RAM_DIR:-/dev/shm}
with_wine=$([ -n "${NO_WINE:-}" ] && echo 0 || echo 1)

fs_type=$(stat -f -c %T "$ram" 2>/dev/null || true)
if [ "$fs_type" != tmpfs ] && [ "$fs_type" != ramfs ]; then
  echo "run-whole-job.sh: $ram is not RAM-backed (${fs_type:-missing}); set RAM_DIR" >&2
  exit 2
fi
command -v 7z >/dev/null || { echo "run-whole-job.sh: 7z missing (scripts/bootstrap.sh)" >&2; exit 2; }

if [ -z "${SKIP_BUILD:-}" ]; then
  build() {  # build DIR PRESET TARGET...
    local dir=$1 preset=$2
    shift 2
    [ -f "$dir/CMakeCache.txt" ] || (cd "$here" && cmake --preset "$preset" >/dev/null) || return 1
    cmake --build "$dir" --target "$@" -j2 >/dev/null
  }
  build "$native" native-release msiarc msiarc_whole_job msiarc_engine_bench ||
    { echo "run-whole-job.sh: native build failed" >&2; exit 2; }
  if [ "$with_wine" = 1 ]; then
    build "$win" windows msiarc msiarc_whole_job ||
      { echo "run-whole-job.sh: windows build failed" >&2; exit 2; }
  fi
fi

generated=$native/bench
stream_db=$generated/stream.msi
large_db=$generated/large.msi
rows_db=$generated/rows.msi
writer=$here/scripts/msiwriter.py
if [ $# -eq 0 ]; then
  mkdir -p "$generated"
  if [ ! -f "$stream_db" ]; then
    if [ -f "$writer" ]; then
      python3 "$writer" big-stream 200 "$stream_db" || exit 2
    else
      tmp=$(mktemp -d) && mkdir "$tmp/Binary" &&
        python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * (200 << 12))' > "$tmp/Binary/big" &&
        printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\nbig\tbig\r\n' > "$tmp/Binary.idt" &&
        (cd "$tmp" && msibuild "$stream_db" -i Binary.idt) >/dev/null 2>&1
      rm -rf "$tmp"
      [ -f "$stream_db" ] || exit 2
    fi
  fi
  if [ ! -f "$large_db" ]; then
    tmp=$(mktemp -d)
    "$here/scripts/make-large-db.sh" "$tmp/out.msi" >/dev/null &&
      "$here/tests/fixtures/validation-idt.sh" Rows Binary > "$tmp/_Validation.idt" &&
      (cd "$tmp" && msibuild out.msi -i _Validation.idt) && mv "$tmp/out.msi" "$large_db"
    rm -rf "$tmp"
    [ -f "$large_db" ] || exit 2
  fi
  corpus=$("$here/scripts/corpus-dir.sh") || exit 2
  set -- "$stream_db" "$large_db"
  if [ -f "$rows_db" ] || { [ -f "$writer" ] && python3 "$writer" rows 1000000 "$rows_db"; }; then
    set -- "$@" "$rows_db"
  else
    echo "run-whole-job.sh: no scripts/msiwriter.py: the 1,000,000-row case is left out" >&2
  fi
  mapfile -t largest < <(find "$corpus" -maxdepth 1 -type f -name '*.ms?' -printf '%s\t%p\n' |
                         sort -rn | head -3 | cut -f2)
  set -- "$@" "${largest[@]}"
fi

work=$(mktemp -d "$ram/msiarc-whole-job.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT

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
peak_kib() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }

printf '%-40s %7s %7s %8s %8s %6s %8s %8s %6s %7s %7s %7s  %s\n' database MiB entries \
  native_s floor_s n/fl 7z_s 7zfl_s 7z/fl peakMiB engMiB wine_s goal
fail=0
for db in "$@"; do
  name=$(basename "$db")
  size=$(stat -c %s "$db")
  dest=$work/native seven=$work/seven
  n_best="" peak="" floor="" z_best="" z_floor="" problem=""
  for ((r = 0; r < rounds; r++)); do
    rm -rf "$dest" "$seven" "$work/copy"
    if ! measure t "$native/bench/whole_job/msiarc_whole_job" "$native/msiarc.so" "$db" "$dest"; then
      problem="native extract failed: $(head -c 200 "$work/err")"
      break
    fi
    n_best=$(min "$n_best" "$t")
    peak=$(max "$peak" "$(field peak_kib)")
    measure t cp -r "$dest" "$work/copy" || problem="cp -r failed"
    floor=$(min "$floor" "$t")
    rm -rf "$work/copy"
    measure t 7z x -tCompound -y "-o$seven" "$db" || problem="7z failed"
    z_best=$(min "$z_best" "$t")
    measure t cp -r "$seven" "$work/copy" || problem="cp -r failed"
    z_floor=$(min "$z_floor" "$t")
  done
  entries=$(find "$dest" -type f 2>/dev/null | wc -l)
  engine=$(peak_kib "$native/bench/msiarc_engine_bench" "$db" 1)
  w_best=""
  if [ "$with_wine" = 1 ]; then
    wdest=$work/wine
    for ((r = 0; r < wine_rounds; r++)); do
      rm -rf "$wdest"
      if ! measure t "$wine" "$win/bench/whole_job/msiarc_whole_job.exe" "$win/msiarc.dll" "$db" "$wdest"; then
        problem="${problem:+$problem; }wine extract failed"
        break
      fi
      w_best=$(min "$w_best" "$t")
    done
    # The summary's date texts follow each system's locale (compared as
    # instants by scripts/e2e/compare-builds.sh); every other byte must match.
    diff -r -I '^"[^"]* Time / Date",' "$dest" "$wdest" >/dev/null ||
      problem="${problem:+$problem; }the Windows build's tree differs"
  fi
  case $db in
    "$stream_db") kind=stream ;;
    "$large_db") kind=large ;;
    "$rows_db") kind=rows ;;
    *) kind=corpus ;;
  esac
  goal=$(awk -v k="$kind" -v n="$n_best" -v f="$floor" -v z="$z_best" -v zf="$z_floor" \
      -v p="$peak" -v e="$engine" 'BEGIN {
    r = n / f; zr = z / zf
    if (k == "stream") ok = p <= 32 * 1024 && r <= 1.15
    else if (k == "large") ok = r <= 1.3 && p - e <= 32 * 1024
    else if (k == "rows") ok = r <= 8
    else ok = r <= zr
    print (ok ? "PASS" : "FAIL") " " k }')
  printf '%-40s %7.1f %7s %8.4f %8.4f %6.2f %8.4f %8.4f %6.2f %7.1f %7.1f %7s  %s\n' \
    "${name:0:40}" "$(awk -v s="$size" 'BEGIN { print s / 1048576 }')" "$entries" \
    "$n_best" "$floor" "$(awk -v n="$n_best" -v f="$floor" 'BEGIN { print n / f }')" \
    "$z_best" "$z_floor" "$(awk -v n="$z_best" -v f="$z_floor" 'BEGIN { print n / f }')" \
    "$(awk -v p="$peak" 'BEGIN { print p / 1024 }')" "$(awk -v p="$engine" 'BEGIN { print p / 1024 }')" \
    "${w_best:--}" "$goal"
  case $goal in FAIL*) fail=1 ;; esac
  if [ -n "$problem" ]; then
    echo "  $name: $problem" >&2
    fail=1
  fi
  rm -rf "$dest" "$seven" "$work/wine"
done
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
  "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo); load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Best of $rounds rounds (native, floor and 7-Zip alternated), $wine_rounds under wine" \
  "(one wine process each, start-up included). engMiB: the engine alone reading the database."
exit $fail
