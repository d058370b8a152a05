#!/usr/bin/env bash
# Builds samples/demo.msi from the text sources in this folder:
#   samples/demo/build.sh [OUT.msi]   (default: samples/demo.msi)
# Needs wixl and msibuild (msitools). The icon is written here as bytes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../demo.msi}
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here"/demo.wxs "$here"/hello.txt "$here"/readme.txt "$work"/
# A 1x1 32-bit icon: header, one directory entry, bitmap header, one pixel
# and the AND mask.
printf '\x00\x00\x01\x00\x01\x00\x01\x01\x00\x00\x01\x00\x20\x00\x30\x00\x00\x00\x16\x00\x00\x00' > "$work/demo.ico"
printf '\x28\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00\x01\x00\x20\x00\x00\x00\x00\x00\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' >> "$work/demo.ico"
printf '\x40\x80\xC0\xFF\x00\x00\x00\x00' >> "$work/demo.ico"
# Built in the scratch folder and moved into place when done: a failed
# msibuild leaves its half-written .gsf-save-* file beside its output.
(cd "$work" && wixl -o demo.msi demo.wxs)
msibuild "$work/demo.msi" -i "$here/_Validation.idt"
mv "$work/demo.msi" "$out"
