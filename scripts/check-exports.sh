#!/usr/bin/env bash
# Checks the plug-in library's surface: exactly the 21 exports of the host's
# packer interface, undecorated, and nothing else; for the DLL also that it
# imports only system libraries, so that it loads on a bare Windows.
#   check-exports.sh LIBRARY [OBJDUMP]
# LIBRARY ending in .dll or .wcx64 (the name hosts give a 64-bit plug-in)
# is read with OBJDUMP (default: the mingw one), anything else with nm -D.
set -euo pipefail
library=$1
objdump=${2:-x86_64-w64-mingw32-objdump}

expected="CanYouHandleThisFile
CanYouHandleThisFileW
CloseArchive
ConfigurePacker
DeleteFiles
DeleteFilesW
GetPackerCaps
OpenArchive
OpenArchiveW
PackFiles
PackFilesW
PackSetDefaultParams
ProcessFile
ProcessFileW
ReadHeader
ReadHeaderEx
ReadHeaderExW
SetChangeVolProc
SetChangeVolProcW
SetProcessDataProc
SetProcessDataProcW"

status=0
case "$library" in
  *.dll|*.DLL|*.wcx64)
    dump=$("$objdump" -p "$library")
    exports=$(printf '%s\n' "$dump" |
      sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
      sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
    imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
    while read -r dll; do
      [ -z "$dll" ] && continue
      case $(printf '%s' "$dll" | tr 'A-Z' 'a-z') in
        kernel32.dll|user32.dll|msi.dll|msvcrt.dll|api-ms-win-crt-*.dll) ;;
        *) echo "unexpected import: $dll"; status=1 ;;
      esac
    done <<< "$imports"
    ;;
  *)
    exports=$(nm -D --defined-only "$library" |
      awk 'NF >= 3 && $2 !~ /^[aAUwvN]$/ {print $3}' | sort)
    ;;
esac

missing=$(comm -23 <(printf '%s\n' "$expected" | sort) <(printf '%s\n' "$exports"))
extra=$(comm -13 <(printf '%s\n' "$expected" | sort) <(printf '%s\n' "$exports"))
if [ -n "$missing" ]; then
  echo "missing exports:"; printf '  %s\n' $missing; status=1
fi
if [ -n "$extra" ]; then
  echo "unexpected exports:"; printf '  %s\n' $extra; status=1
fi
count=$(printf '%s\n' "$exports" | grep -c . || true)
if [ "$status" -eq 0 ]; then
  echo "$library: $count exports, as expected${imports:+; imports: $(echo $imports)}"
fi
exit "$status"
