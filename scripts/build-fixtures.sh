#!/usr/bin/env bash
# Builds the test databases from their text sources under tests/fixtures/.
set -euo pipefail
out=${1:?usage: build-fixtures.sh OUTDIR}
mkdir -p "$out"
