#!/usr/bin/env bash
# Runs a Windows program under wine64 in a quiet prefix kept in the build
# folder (created once). Used by CTest as the cross-compiling emulator.
# The Wine server is kept alive for a minute after the last program ends,
# so that a test run does not pay Wine's start-up for every test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=$(command -v wine64 || command -v wine || true)
if [ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64; fi
if [ -z "$wine" ]; then
  echo "wine-run.sh: wine64 is not installed (scripts/bootstrap.sh installs it)" >&2
  exit 127
fi
server=$(command -v wineserver || true)
if [ -z "$server" ] && [ -x /usr/lib/wine/wineserver64 ]; then server=/usr/lib/wine/wineserver64; fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Creating a prefix is slow and chatty; two test programs starting at
  # once must not both create it.
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      [ -n "$server" ] && "$server" -w 2>/dev/null || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# Start (or keep) the server and Wine's own background programs with their
# output detached: they outlive this program, and a caller such as CTest
# waits for everything that holds its output pipe.
[ -n "$server" ] && "$server" -p60 </dev/null >/dev/null 2>&1 || true
"$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
exec "$wine" "$@"
