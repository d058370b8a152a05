#!/usr/bin/env bash
# make-large-db.sh OUT.msi
# The standard benchmark database, built with msibuild: table Rows with
# 100,000 rows of three columns (i4 key, s72 name, I4 value; 100,000 distinct
# names, so string references are 3 bytes) and table Binary with 2,000 stream
# rows of 100 B to 20 KB. All content is deterministic.
set -euo pipefail
out=${1:?usage: make-large-db.sh OUT.msi}
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk 'BEGIN {
  printf "Id\tName\tValue\r\ni4\ts72\tI4\r\nRows\tId\r\n"
  for (i = 1; i <= 100000; i++) {
    if (i % 10 == 0) printf "%d\trow-name-%06d\t\r\n", i, i
    else printf "%d\trow-name-%06d\t%d\r\n", i, i, (i * 7919) % 1000003 - 500000
  }
}' > "$work/Rows.idt"
mkdir -p "$work/Binary"
seq 1 6000 | tr '\n' ' ' > "$work/numbers"
head -c 20000 "$work/numbers" > "$work/pattern"
awk 'BEGIN {
  printf "Name\tData\r\ns72\tv0\r\nBinary\tName\r\n"
  for (i = 1; i <= 2000; i++) printf "blob%04d\tblob%04d.bin\r\n", i, i
}' > "$work/Binary.idt"
for i in $(seq 1 2000); do
  n=$(( 100 + (i * 7919) % 19901 ))
  name=$(printf 'blob%04d.bin' "$i")
  tail -c "$n" "$work/pattern" > "$work/Binary/$name"
done
rm -f "$out"
(cd "$work" && msibuild "$out" -i Rows.idt -i Binary.idt)
