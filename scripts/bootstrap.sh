#!/usr/bin/env bash
# Installs the Debian packages msiarc needs, only those that are missing:
# compilers and CMake, the mingw-w64 cross compiler, GoogleTest sources,
# Wine for the Windows tests, msitools and wixl for the test databases,
# clang for the fuzz targets, Double Commander with a virtual display,
# xdotool and ImageMagick for the file manager test, dpkg-dev for the
# Debian package, lintian and man-db to check it and its manual page,
# Python 3 for the CSV and code page checks and the database writer, GNU
# time for the benchmarks' peak memory, 7-Zip for the whole-job
# benchmark's reference. Fast when everything is present.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 msitools wixl
  clang libclang-rt-14-dev
  doublecmd-gtk xvfb xdotool imagemagick dpkg-dev
  lintian man-db python3 time p7zip-full
)

installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
  awk '$NF == "installed" && $(NF-1) == "ok" {print $1}' || true)
missing=()
for package in "${packages[@]}"; do
  grep -qx "$package" <<< "$installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
