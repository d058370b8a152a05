#!/usr/bin/env bash
# Sets up what is missing, builds the plug-in and the command-line host
# (Linux, release) and shows what the plug-in reports through its exports.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/bootstrap.sh"
cmake --preset native-release >/dev/null
cmake --build --preset native-release -j "${MSIARC_JOBS:-$(nproc)}" --target msiarc msiarc_host
host="$root/build/native-release/msiarc"
echo "== msiarc caps"
"$host" caps
