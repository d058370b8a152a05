#!/usr/bin/env bash
# Builds the engine fuzzer (preset fuzz) and runs it, niced, on one core:
#   fuzz/run.sh [seconds]     (default 1800)
# Seeds are the corpus databases under 300 KB; the growing corpus and any
# findings stay in build/fuzz/. Copy a finding into
# tests/native_engine/fuzz_findings/ so the engine tests replay it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-1800}
cmake --preset fuzz >/dev/null
cmake --build "$here/build/fuzz" -j2 --target msiarc_engine_fuzz
work="$here/build/fuzz/engine-corpus"
seeds="$here/build/fuzz/engine-seeds"
mkdir -p "$work" "$seeds" "$here/build/fuzz/findings"
find "$here/../shared/corpus" "$here/build/fuzz/../native/fixtures" -type f -size -300k \
  \( -name '*.ms?' -o -name '*.cub' \) -exec cp {} "$seeds/" \; 2>/dev/null || true
exec nice -n 19 "$here/build/fuzz/fuzz/msiarc_engine_fuzz" -max_len=300000 -rss_limit_mb=2048 \
  -timeout=20 -max_total_time="$seconds" -dict="$here/fuzz/engine.dict" \
  -artifact_prefix="$here/build/fuzz/findings/" "$work" "$seeds"
