#!/usr/bin/env bash
# The full bad-input sweep: every broken corpus file and every damaged
# variant of every corpus database through the plug-in (ctest runs a bounded
# subset of the same test).
#   scripts/e2e/sweep.sh BUILD_DIR [DATABASE_NAME]
# BUILD_DIR is a native build (ASan + UBSan + LeakSanitizer) or, for the
# Windows build under wine, a Windows build folder. MSIARC_SWEEP_LIMIT sets
# the per-file time limit in seconds (default 60).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: sweep.sh BUILD_DIR [DATABASE_NAME]}
export MSIARC_SWEEP=full
[ $# -ge 2 ] && export MSIARC_SWEEP_ONLY=$2
if [ -f "$build/tests/msiarc_e2e_tests.exe" ]; then
  exec "$here/scripts/wine-run.sh" "$build/tests/msiarc_e2e_tests.exe" --gtest_filter='BadInput.*'
fi
exec "$build/tests/msiarc_e2e_tests" --gtest_filter='BadInput.*'
