#!/usr/bin/env bash
# Differential test of the two builds over the whole corpus.
#
#   scripts/e2e/compare-builds.sh [--batch] NATIVE_BUILD WINDOWS_BUILD [DATABASE...]
#
# Every database (default: the corpus, its broken/ folder and the fixture
# lfs-pointer.msi) is listed
# and extracted with the Linux host and plug-in (NATIVE_BUILD/msiarc,
# msiarc.so: the native engine) and with the Windows ones under wine
# (WINDOWS_BUILD/msiarc.exe, msiarc.dll: Wine's msi.dll). Required:
#   - the same listing: names (backslash mapped to the platform's separator),
#     sizes and order equal; times equal to the second, within the 2-second
#     resolution of the Windows header's packed date;
#   - every listed size equals its extracted file's size;
#   - identical extracted trees, byte for byte, except the locale-formatted
#     date and time texts of _SummaryInformation.csv, which are parsed back
#     and must name the same instant;
#   - the same outcome when a file is refused (exit status and message).
# A difference prints the database, the entry and the first differing byte.
#
# --batch lists and extracts every database under wine in one process
# (WINDOWS_BUILD/tools/host_batch/msiarc_host_batch.exe: the same list and
# extract commands), which saves Wine's start-up twice per database; a crash
# then fails the rest, so use it only for files Wine is known to survive.
#
# Named exceptions (MSIARC_E2E_EXCEPTIONS, space separated, names a subset;
# empty turns them all off). Each is an approved point where the native engine
# gives what Windows gives and Wine's msi.dll does not:
#   width-1-integers     integer columns of width 1 (I1/i1): Wine decodes the
#                        2-byte cell with the 4-byte formula. Affects the table
#                        Wix4FirewallException of wix__Firewall4.msi and
#                        wix__Module401.msm: that .csv entry is not compared
#                        (its size and bytes), everything else is.
#   summary-codepage     summary strings are decoded with the summary's own
#                        code page, not the system's: _SummaryInformation.csv
#                        is not compared for the code page sweep's probes.
#   summary-stored-type  a time stored as text is reported as empty text
#                        (mimetype__msi.msi, id 12 "Create Time / Date",
#                        stored as an empty string; the fixture
#                        summary-types.msi, id 11 "Last Printed"): that one
#                        line is dropped from both sides before comparing.
#   The code page sweep's probe databases (cp-NNNNN.msi) hold summary texts in
#   their own code page (scripts/compare-engine-dumps.sh compares those texts
#   with Wine's decoding of the same bytes).
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
batch=0
if [ "${1:-}" = --batch ]; then batch=1; shift; fi
native=${1:?usage: compare-builds.sh NATIVE_BUILD WINDOWS_BUILD [DATABASE...]}
windows=${2:?usage: compare-builds.sh NATIVE_BUILD WINDOWS_BUILD [DATABASE...]}
shift 2
if [ $# -eq 0 ]; then
  corpus=$("$here/scripts/corpus-dir.sh") || exit 2
  set -- "$corpus"/*.* "$corpus"/broken/* "$native/fixtures/lfs-pointer.msi"
fi
for tool in "$native/msiarc" "$native/msiarc.so" "$windows/msiarc.exe" "$windows/msiarc.dll"; do
  [ -f "$tool" ] || { echo "missing $tool (build targets msiarc and msiarc_host)" >&2; exit 2; }
done
exceptions=" ${MSIARC_E2E_EXCEPTIONS-width-1-integers summary-codepage summary-stored-type} "
on() { [[ $exceptions == *" $1 "* ]]; }

work=$(mktemp -d "${TMPDIR:-/tmp}/msiarc-e2e-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
wine() { timeout 600 "$here/scripts/wine-run.sh" "$@"; }

failures=0 count=0 refused=0 excepted=0
fail() { echo "FAIL $name: $*"; failures=$((failures + 1)); }

# Entries (archive names, backslash form) not compared for this database.
skipped_entries() {
  case $1 in
    wix__Firewall4.msi | wix__Module401.msm)
      on width-1-integers && echo 'Wix4FirewallException.csv' ;;
    cp-[0-9][0-9][0-9][0-9][0-9].msi)
      on summary-codepage && echo '_SummaryInformation.csv' ;;
  esac
}

# list output -> "size<TAB>epoch<TAB>name" with '/' separators. The Windows
# header carries a packed local date, the Linux one a Unix time shown as
# local time by the host; both print local "YYYY-MM-DD HH:MM:SS".
normalise_listing() {
  tr -d '\r' | perl -ne '
    use Time::Local qw(timegm);
    chomp; my ($size, $time, $entry) = split /\t/, $_, 3;
    $entry =~ tr{\\}{/};
    my @t = $time =~ /^(\d+)-(\d+)-(\d+) (\d+):(\d+):(\d+)$/ or do { print "$size\tbad:$time\t$entry\n"; next };
    my $epoch = eval { timegm($t[5], $t[4], $t[3], $t[2], $t[1] - 1, $t[0]) } // "bad:$time";
    print "$size\t$epoch\t$entry\n";'
}

# Compares two normalised listings; prints the first problem.
compare_listings() {
  perl -e '
    my ($nf, $wf, @skip) = @ARGV; my %skip = map { tr{\\}{/}r => 1 } @skip;
    open my $n, "<", $nf or die; open my $w, "<", $wf or die;
    my @n = <$n>; my @w = <$w>; chomp(@n, @w);
    for my $i (0 .. ($#n > $#w ? $#n : $#w)) {
      my ($ns, $nt, $nn) = split /\t/, $n[$i] // "", 3;
      my ($ws, $wt, $wn) = split /\t/, $w[$i] // "", 3;
      if (!defined $nn || !defined $wn || $nn ne $wn) {
        printf "entry %d: name native \"%s\", windows \"%s\"\n", $i + 1, $nn // "(none)", $wn // "(none)"; exit 1;
      }
      if ($ns ne $ws && !$skip{$nn} && $nn ne "_SummaryInformation.csv") {
        print "entry $nn: size native $ns, windows $ws\n"; exit 1;
      }
      if ($nt !~ /^\d+$/ || $wt !~ /^\d+$/ || abs($nt - $wt) >= 2) {
        print "entry $nn: time native $nt, windows $wt (epoch seconds)\n"; exit 1;
      }
    }' "$@"
}

# Every listed size must be the extracted file's size, except for an entry
# whose extraction the side reported as failed (messages ERRORS), whose bytes
# the comparison of the trees still judges.
check_sizes() {
  local listing=$1 tree=$2 side=$3 errors=$4 size epoch entry actual
  while IFS=$'\t' read -r size epoch entry; do
    grep -qF "msiarc extract: $entry: " "$errors" && continue
    actual=$(stat -c %s "$tree/$entry" 2>/dev/null || echo missing)
    if [ "$actual" != "$size" ]; then
      fail "$side: entry $entry listed with $size bytes, extracted $actual"
      return
    fi
  done < "$listing"
}

# _SummaryInformation.csv with each date/time value replaced by its instant
# ("@epoch"), whatever the locale's short date and time formats were
# (native: 04/12/07 05:25:28; Wine: 4/12/2007 5:25:28 AM). Two-digit years
# use the Windows window 1930-2029; hours may carry an AM/PM marker.
normalise_summary() {
  perl -i -pe '
    use Time::Local qw(timegm);
    if (/^"(Last Printed|Create Time \/ Date|Last Save Time \/ Date)","([^"]*)"\r$/) {
      my ($key, $v) = ($1, $2);
      if ($v =~ m{^(\d+)[/.-](\d+)[/.-](\d+) (\d+):(\d+):(\d+)(?: ?([AP])M)?$}) {
        my ($mo, $d, $y, $h, $mi, $s, $ap) = ($1, $2, $3, $4, $5, $6, $7);
        $y += $y < 30 ? 2000 : 1900 if $y < 100;
        # Wine keeps the AM/PM marker even with a forced 24-hour clock.
        $h = 0 if defined $ap && $ap eq "A" && $h == 12;
        $h += 12 if defined $ap && $ap eq "P" && $h < 12;
        my $e = eval { timegm($s, $mi, $h, $d, $mo - 1, $y) };
        $_ = "\"$key\",\"@" . ($e // "bad:$v") . "\"\r\n";
      }
    }' "$1"
}

# "byte N (1-based): native xx, windows yy" or which side ends first.
first_difference() {
  local at
  at=$(cmp "$1" "$2" 2>&1 | sed -n 's/.* differ: byte \([0-9]*\),.*/\1/p')
  if [ -z "$at" ]; then
    echo "sizes $(stat -c %s "$1") (native) and $(stat -c %s "$2") (windows), equal up to the shorter"
    return
  fi
  echo "byte $at: native $(od -An -tx1 -j $((at - 1)) -N1 "$1" | tr -d ' '), windows $(od -An -tx1 -j $((at - 1)) -N1 "$2" | tr -d ' ')"
}

# Batch: Wine's lists and trees of every database now, in one process.
if [ $batch -eq 1 ]; then
  batch_host=$windows/tools/host_batch/msiarc_host_batch.exe
  [ -f "$batch_host" ] || { echo "missing $batch_host (build target msiarc_host_batch)" >&2; exit 2; }
  pairs=()
  for db in "$@"; do
    [ -f "$db" ] || continue
    case $db in *.tsv | */mimetype__msi-4096-truncated.msi) continue ;; esac
    pairs+=("$db" "$work/w/$(basename "$db")")
  done
  mkdir -p "$work/w"
  if [ ${#pairs[@]} -gt 0 ] && ! timeout 3600 "$here/scripts/wine-run.sh" "$batch_host" \
      "$windows/msiarc.dll" "$work/batch" "${pairs[@]}" 2> "$work/batch.err"; then
    echo "FAIL: the batch under wine failed: $(head -c 300 "$work/batch.err")"
    failures=$((failures + 1))
  fi
fi
batched=0

for db in "$@"; do
  [ -f "$db" ] || continue
  case $db in *.tsv) continue ;; esac
  name=$(basename "$db")
  count=$((count + 1))
  n=$work/n/$name w=$work/w/$name
  mapfile -t skip < <(skipped_entries "$name")
  [ ${#skip[@]} -gt 0 ] && excepted=$((excepted + 1))

  "$native/msiarc" list "$db" 2> "$work/n.lerr" | normalise_listing > "$work/n.list"
  nlrc=${PIPESTATUS[0]}
  "$native/msiarc" extract "$db" "$n" 2> "$work/n.err"
  nrc=$?
  # Wine's own open crashes on this file: the native build only has to
  # refuse it cleanly.
  if [ "$name" = mimetype__msi-4096-truncated.msi ]; then
    if [ $nrc -ne 1 ] || [ -e "$n" ]; then fail "native: exit $nrc, $(head -1 "$work/n.err")"; fi
    echo "native only: $name: $(head -1 "$work/n.err")"
    continue
  fi
  if [ $batch -eq 1 ]; then
    batched=$((batched + 1))
    b=$work/batch.$batched
    if [ ! -f "$b.rc" ]; then fail "not in the batch's results"; continue; fi
    normalise_listing < "$b.list" > "$work/w.list"
    cp "$b.list.err" "$work/w.lerr"
    cp "$b.extract.err" "$work/w.err"
    read -r wlrc wrc < "$b.rc"
  else
    wine "$windows/msiarc.exe" list "$db" 2> "$work/w.lerr" | normalise_listing > "$work/w.list"
    wlrc=${PIPESTATUS[0]}
    wine "$windows/msiarc.exe" extract "$db" "$w" 2> "$work/w.err"
    wrc=$?
  fi
  sed -i 's/\r$//' "$work/w.err" "$work/w.lerr"
  # Windows names an entry with its separator.
  sed -i -e "s|$windows/msiarc.exe|msiarc|" -e 's|\\|/|g' "$work/w.err" "$work/w.lerr"

  if [ $nlrc -ne $wlrc ] || [ $nrc -ne $wrc ]; then
    fail "exit status: list native $nlrc windows $wlrc, extract native $nrc windows $wrc"
    head -3 "$work/n.err" "$work/w.err"
    continue
  fi
  if [ $nrc -ne 0 ] && [ ! -s "$work/n.list" ]; then
    # Refused at open by both: same message, nothing written.
    if ! cmp -s "$work/n.err" "$work/w.err"; then
      fail "refusals differ: native \"$(head -1 "$work/n.err")\", windows \"$(head -1 "$work/w.err")\""
    elif [ -e "$n" ] || [ -e "$w" ]; then
      fail "refused, yet something was extracted"
    else
      refused=$((refused + 1))
      echo "both refuse: $name: $(head -1 "$work/n.err")"
    fi
    continue
  fi
  if ! cmp -s "$work/n.err" "$work/w.err"; then
    fail "extraction messages differ"
    diff "$work/n.err" "$work/w.err" | head -6
  fi
  if ! problem=$(compare_listings "$work/n.list" "$work/w.list" "${skip[@]}"); then
    fail "listings differ: $problem"
    continue
  fi
  check_sizes "$work/n.list" "$n" native "$work/n.err"
  check_sizes "$work/w.list" "$w" windows "$work/w.err"

  for tree in "$n" "$w"; do
    for entry in "${skip[@]}"; do rm -f "$tree/${entry//\\//}"; done
    f=$tree/_SummaryInformation.csv
    if [ -f "$f" ]; then
      normalise_summary "$f"
      if on summary-stored-type; then
        case $name in
          mimetype__msi.msi) sed -i '/^"Create Time \/ Date",/d' "$f" ;;
          summary-types.msi) sed -i '/^"Last Printed",/d' "$f" ;;
        esac
      fi
    fi
  done
  # Same set of files, then the same bytes in each.
  (cd "$n" && find . -type f | LC_ALL=C sort) > "$work/n.files"
  (cd "$w" && find . -type f | LC_ALL=C sort) > "$work/w.files"
  if ! cmp -s "$work/n.files" "$work/w.files"; then
    fail "extracted file sets differ: $(diff "$work/n.files" "$work/w.files" | grep '^[<>]' | head -3 | tr '\n' ' ')"
    continue
  fi
  while IFS= read -r file; do
    if ! cmp -s "$n/$file" "$w/$file"; then
      fail "entry ${file#./}: $(first_difference "$n/$file" "$w/$file")"
      break
    fi
  done < "$work/n.files"
  rm -rf "$n" "$w"
done
echo "$count databases ($refused refused by both, $excepted with a named exception), $failures failures"
[ $failures -eq 0 ]
