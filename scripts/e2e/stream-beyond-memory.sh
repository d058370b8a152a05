#!/usr/bin/env bash
# stream-beyond-memory.sh RELEASE_BUILD WORKDIR
#
# A stream larger than the memory the host's process may take extracts
# whole: a database holding a 256 MiB stream cell (and its _Streams alias,
# the same stream read a second time) is extracted by RELEASE_BUILD's
# command-line host under `ulimit -v` of 96 MiB, and both files must hold
# the stream's bytes. (A sanitized build cannot run under such a limit.)
set -euo pipefail
build=${1:?usage: stream-beyond-memory.sh RELEASE_BUILD WORKDIR}
work=${2:?usage: stream-beyond-memory.sh RELEASE_BUILD WORKDIR}
for file in "$build/msiarc" "$build/msiarc.so"; do
  [ -x "$file" ] || [ -f "$file" ] || { echo "stream-beyond-memory.sh: $file is missing" >&2; exit 1; }
done
rm -rf "$work"
mkdir -p "$work/Binary" "$work/out"
# 256 blocks of 1 MiB, each led by its number, so that a block out of place
# shows.
python3 - "$work/Binary/big.bin" <<'PY'
import hashlib, struct, sys
block = hashlib.sha256(b"msiarc").digest() * 32768
with open(sys.argv[1], "wb") as out:
    for i in range(256):
        out.write(struct.pack("<Q", i) + block[8:])
PY
printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\nbig\tbig.bin\r\n' > "$work/Binary.idt"
(cd "$work" && msibuild big.msi -i Binary.idt) > "$work/msibuild.log" 2>&1 ||
  { cat "$work/msibuild.log" >&2; exit 1; }
status=0
(ulimit -v $((96 * 1024)) && "$build/msiarc" --plugin "$build/msiarc.so" extract "$work/big.msi" "$work/out") ||
  { echo "stream-beyond-memory.sh: extraction under ulimit -v 96 MiB failed" >&2; status=1; }
for copy in Binary/big _Streams/big; do
  cmp "$work/Binary/big.bin" "$work/out/$copy" ||
    { echo "stream-beyond-memory.sh: $copy differs from the stream" >&2; status=1; }
done
[ "$status" -ne 0 ] || rm -rf "$work"
exit "$status"
