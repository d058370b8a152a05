#!/usr/bin/env bash
# Sets up what is missing, builds the plug-in and the command-line host
# (Linux, release), shows what the plug-in reports through its exports, and
# runs the main job on a database (default: the bundled samples/demo.msi):
# lists it and extracts it into a new temporary folder.
#   scripts/run.sh [DATABASE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/bootstrap.sh"
cmake --preset native-release >/dev/null
cmake --build --preset native-release -j "${MSIARC_JOBS:-$(nproc)}" --target msiarc msiarc_host
host="$root/build/native-release/msiarc"
echo "== msiarc caps"
"$host" caps

db=${1:-$root/samples/demo.msi}
if [ ! -f "$db" ] && [ "$db" = "$root/samples/demo.msi" ]; then
  "$root/samples/demo/build.sh" "$db"
fi
echo "== msiarc list $db"
"$host" list "$db"
out=$(mktemp -d "${TMPDIR:-/tmp}/msiarc-demo.XXXXXX")
echo "== msiarc extract $db $out"
"$host" extract "$db" "$out"
(cd "$out" && find . -type f | sort)
echo "Extracted into $out"
