#!/usr/bin/env bash
# Builds the test databases from their text sources under tests/fixtures/,
# so that a reader can see what each one holds:
#   tests/fixtures/NAME/*.idt     tables in the installer's text format, imported
#                                 with msibuild into OUTDIR/NAME.msi; binary cells
#                                 name files in a folder beside the .idt file
#   tests/fixtures/NAME/summary   optional: arguments for msibuild -s
#   tests/fixtures/NAME/streams/  optional: each file added as a stream (-a)
#   tests/fixtures/NAME/build.sh  optional: builds OUTDIR/NAME.msi itself
#   tests/fixtures/NAME.wxs       a wixl source, built into OUTDIR/NAME.msi
# A database is rebuilt only when a source is newer than it. Each is built in
# a scratch folder of its own and moved into OUTDIR when done, so that what a
# failed build leaves (msibuild's half-written .gsf-save-* files) goes with
# the scratch folder.
set -euo pipefail
trap 'echo "build-fixtures.sh: failed (line $LINENO): $BASH_COMMAND" >&2; rm -f "${db:-}"' ERR
here=$(cd "$(dirname "$0")/.." && pwd)
src=$here/tests/fixtures
out=${1:?usage: build-fixtures.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
[ -d "$src" ] || exit 0

stale() {  # stale TARGET SOURCE...: true when TARGET is missing or older
  local target=$1; shift
  [ -f "$target" ] || return 0
  [ -n "$(find "$@" -newer "$target" -print -quit 2>/dev/null)" ]
}

scratch=$(mktemp -d "$out/.building.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# publish: moves what a build wrote into the scratch folder (the database and
# any files beside it) into OUTDIR, and empties the scratch folder.
publish() {
  local item
  for item in "$scratch"/*; do
    [ -e "$item" ] || continue
    rm -rf "$out/${item##*/}"
    mv "$item" "$out/"
  done
  rm -rf "$scratch"/.[!.]* "$scratch"/*
}

for dir in "$src"/*/; do
  dir=${dir%/}
  name=$(basename "$dir")
  db=$out/$name.msi
  stale "$db" "$dir" "$0" || continue
  rm -f "$db"
  if [ -x "$dir/build.sh" ]; then
    "$dir/build.sh" "$scratch/$name.msi"
    publish
    continue
  fi
  shopt -s nullglob
  idts=("$dir"/*.idt)
  shopt -u nullglob
  # A folder with no table sources (say, streams a tool exported) is no database.
  [ ${#idts[@]} -gt 0 ] || continue
  args=()
  if [ -f "$dir/summary" ]; then
    mapfile -t summary < "$dir/summary"
    args+=(-s "${summary[@]}")
  fi
  for idt in "${idts[@]}"; do args+=(-i "$idt"); done
  if [ -d "$dir/streams" ]; then
    for f in "$dir"/streams/*; do args+=(-a "$(basename "$f")" "$f"); done
  fi
  (cd "$dir" && msibuild "$scratch/$name.msi" "${args[@]}")
  publish
done

for wxs in "$src"/*.wxs; do
  [ -e "$wxs" ] || continue
  name=$(basename "$wxs" .wxs)
  db=$out/$name.msi
  stale "$db" "$wxs" "$0" || continue
  (cd "$(dirname "$wxs")" && wixl -o "$scratch/$name.msi" "$wxs")
  publish
done
