#!/usr/bin/env bash
# Builds a fuzz target (preset fuzz) and runs it, niced, on one core:
#   fuzz/run.sh [engine|exports] [seconds]     (defaults: engine, 1800)
# Seeds are the corpus databases and fixtures under 300 KB; the growing
# corpus stays in build/fuzz/TARGET-corpus, findings in build/fuzz/findings/.
# libFuzzer's log goes to build/fuzz/TARGET.log as well as the terminal.
# Copy a finding into tests/engine/native/fuzz_findings/ so the engine tests
# replay it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-engine}
seconds=${2:-1800}
case "$target" in
  engine|exports) ;;
  *) echo "usage: fuzz/run.sh [engine|exports] [seconds]" >&2; exit 2 ;;
esac
cmake --preset fuzz >/dev/null
cmake --build "$here/build/fuzz" -j2 --target "msiarc_${target}_fuzz"
work="$here/build/fuzz/$target-corpus"
seeds="$here/build/fuzz/$target-seeds"
mkdir -p "$work" "$seeds" "$here/build/fuzz/findings"
corpus=$("$here/scripts/corpus-dir.sh")
find "$corpus" "$here/build/native/fixtures" "$here/tests/engine/native/fuzz_findings" -type f -size -300k \
  \( -name "*.ms?" -o -name "*.cub" -o -name "*.bin" \) -exec cp {} "$seeds/" \; 2>/dev/null || true
nice -n 19 "$here/build/fuzz/fuzz/msiarc_${target}_fuzz" -max_len=300000 -rss_limit_mb=2048 \
  -timeout=20 -max_total_time="$seconds" -dict="$here/fuzz/engine.dict" \
  -print_final_stats=1 -artifact_prefix="$here/build/fuzz/findings/" "$work" "$seeds" \
  2>&1 | tee "$here/build/fuzz/$target.log"
