#!/usr/bin/env bash
# Prints the folder of the test corpus: MSIARC_CORPUS_DIR, or tests/corpus
# (real databases, their broken/ folder and MANIFEST.tsv). When there is no
# corpus there, says so and fails.
here=$(cd "$(dirname "$0")/.." && pwd)
corpus=${MSIARC_CORPUS_DIR:-$here/tests/corpus}
if [ ! -d "$corpus/broken" ]; then
  echo "no test corpus at $corpus (databases and broken/; MSIARC_CORPUS_DIR names another)" >&2
  exit 2
fi
echo "$corpus"
