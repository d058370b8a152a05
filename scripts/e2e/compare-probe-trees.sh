#!/usr/bin/env bash
# compare-probe-trees.sh NATIVE_BUILD WINDOWS_BUILD DATABASE
#
# Both builds' plug-ins extract the generated naming probes (DATABASE, made
# by tests/fixtures/naming-probes) through the exports, in the property
# test NamingProperty.EveryEntryIsAFileOfItsOwnWithItsStreamsBytes (the
# Windows one under wine, over Wine's msi.dll), each into a folder of its
# own with names given relative to it, so that names of up to 259 units fit
# a Windows path. The two trees must be the same: every path, size and hash.
# (The command-line hosts give the plug-in absolute paths, which for such
# names pass the 259 units of a Windows path; compare-builds.sh is for the
# rest.)
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
native=${1:?usage: compare-probe-trees.sh NATIVE_BUILD WINDOWS_BUILD DATABASE}
windows=${2:?usage: compare-probe-trees.sh NATIVE_BUILD WINDOWS_BUILD DATABASE}
db=${3:?usage: compare-probe-trees.sh NATIVE_BUILD WINDOWS_BUILD DATABASE}
native=$(cd "$native" && pwd) windows=$(cd "$windows" && pwd)
db=$(cd "$(dirname "$db")" && pwd)/$(basename "$db")
work=$(mktemp -d "${TMPDIR:-/tmp}/msiarc-probe-trees.XXXXXX")
trap 'rm -rf "$work"' EXIT
test=NamingProperty.EveryEntryIsAFileOfItsOwnWithItsStreamsBytes
export MSIARC_PROBE_DATABASE=$db
status=0
(cd "$native/tests" && MSIARC_PROBE_TREE=$work/native.tree \
  ./msiarc_plugin_tests --gtest_filter="$test" --gtest_brief=1) || status=1
(cd "$windows/tests" && MSIARC_PROBE_TREE=$work/windows.tree timeout 1200 \
  "$here/scripts/wine-run.sh" ./msiarc_plugin_tests.exe --gtest_filter="$test" --gtest_brief=1) || status=1
for side in native windows; do
  [ -s "$work/$side.tree" ] || { echo "FAIL $side: no tree written"; exit 1; }
done
if ! cmp -s "$work/native.tree" "$work/windows.tree"; then
  echo "FAIL the trees differ (< native, > windows):"
  diff "$work/native.tree" "$work/windows.tree" | head -10
  exit 1
fi
echo "$(wc -l < "$work/native.tree") files, the same on both builds"
exit $status
