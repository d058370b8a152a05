#!/usr/bin/env bash
# compare-engine-dumps.sh WINDOWS_BUILD NATIVE_BUILD [DATABASE...]
#
# Dumps every database (default: every file of the shared corpus and of its
# broken/ folder) with msidump twice: the Windows build under wine (Wine's
# msi.dll: the expected answer) and the native build (our engine). The two
# dumps must be identical byte for byte; the first difference of each file is
# printed. Exit status 1 when any file differs or a dump fails.
#
# Allowed differences are the named exceptions below. Each rewrites the
# expected (Wine) dump into what Windows answers, for one documented point
# where Wine is known to answer otherwise and the native engine follows
# Windows. Nothing else is normalised.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
win=${1:?usage: compare-engine-dumps.sh WINDOWS_BUILD NATIVE_BUILD [DATABASE...]}
native=${2:?usage: compare-engine-dumps.sh WINDOWS_BUILD NATIVE_BUILD [DATABASE...]}
shift 2
win_dump=$win/tools/msidump/msidump.exe
native_dump=$native/tools/msidump/msidump
for tool in "$win_dump" "$native_dump"; do
  [ -x "$tool" ] || [ -f "$tool" ] || { echo "missing $tool (build target msidump)" >&2; exit 2; }
done
corpus=${MSIARC_CORPUS_DIR:-$here/../shared/corpus}
if [ $# -eq 0 ]; then
  set -- "$corpus"/*.* "$corpus"/broken/*.*
fi

# Wine crashes inside its own open on this file; only the native engine's
# answer (no crash, an error code) is checked for it.
wine_crashes=(mimetype__msi-4096-truncated.msi)

# Exception "summary-small-buffer": MsiSummaryInfoGetPropertyW given a buffer
# of cch <= length units. Wine copies cch units and no terminator; Windows
# (the ANSI variant in Wine's own conformance tests: "Mike" with 4 gives
# "Mik") writes cch - 1 units and a terminator, as the native engine does.
# The result code (234) and the reported length are compared unchanged.
windows_answers() {
  perl -CSD -pe '
    s{small\(234\)=(\d+) "((?:[^"\\]|\\.)*)" unterminated}{
      my ($n, $quoted) = ($1, $2);
      # The text as UTF-16 units: an escape is one unit, a character outside
      # the basic plane two (its high half printed alone as \uXXXX).
      my @units;
      for my $t ($quoted =~ /(\\x[0-9A-F]{2}|\\u[0-9A-F]{4}|\\.|.)/g) {
        if (length($t) == 1 && ord($t) > 0xFFFF) {
          push @units, [sprintf("\\u%04X", 0xD800 + ((ord($t) - 0x10000) >> 10)), $t], [""];
        } else {
          push @units, [$t];
        }
      }
      my $keep = $n - 1;
      my $text = "";
      for my $i (0 .. $keep - 1) {
        my $u = $units[$i];
        if (@$u == 2) { $text .= ($i + 1 < $keep) ? $u->[1] : $u->[0]; }
        else { $text .= $u->[0]; }
      }
      "small(234)=$n \"$text\" terminated"
    }ge'
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
same=0
for db in "$@"; do
  name=$(basename "$db")
  case " ${wine_crashes[*]} " in
    *" $name "*)
      if timeout 120 "$native_dump" "$db" > "$work/native" 2>&1; then
        echo "native-only $name: $(grep -m1 '^open' "$work/native")"
      else
        echo "FAIL $name: native dump failed"; failed=1
      fi
      continue ;;
  esac
  if ! timeout 600 "$here/scripts/wine-run.sh" "$win_dump" "$db" > "$work/wine.raw" 2> "$work/wine.err"; then
    echo "FAIL $name: dump under wine failed"; failed=1; continue
  fi
  windows_answers < "$work/wine.raw" > "$work/expected"
  if ! timeout 600 "$native_dump" "$db" > "$work/native" 2> "$work/native.err"; then
    echo "FAIL $name: native dump failed: $(head -c 300 "$work/native.err")"; failed=1; continue
  fi
  if cmp -s "$work/expected" "$work/native"; then
    same=$((same + 1))
    echo "same $name"
  else
    failed=1
    echo "DIFF $name"
    diff "$work/expected" "$work/native" | head -n 6 | cut -c1-300 | sed 's/^/    /'
  fi
done
echo "$same identical, status $failed"
exit $failed
