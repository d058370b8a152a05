#!/usr/bin/env bash
# A real file manager drives the Linux plug-in as the Debian package
# installs it: Double Commander under Xvfb.
#
#   scripts/e2e/real-host.sh BUILD_DIR [WORK_DIR]
#
# BUILD_DIR is a build folder whose plug-in and host are built without
# sanitizers (the sanitizer runtime cannot be loaded into the file
# manager). WORK_DIR (default BUILD_DIR/real-host) is emptied first and
# keeps the package, the tree it installs, the screenshots, the file
# manager's operation log and its output.
#
# The build's Debian package is made (cpack) and unpacked with dpkg-deb -x
# into WORK_DIR/root. On a display of its own, with a throw-away home and
# configuration folder and the English interface, Double Commander gets the
# package's usr/lib/doublecmd/plugins/wcx/msiarc/msiarc.wcx as a packer
# plug-in for the extension msi, with the capabilities the package's
# `msiarc caps` reports, and is driven by keystrokes and clicks (xdotool):
#   1. Return on a .msi database enters it (by extension); Ctrl+A marks
#      everything, F5 and Return copy it to the other panel;
#   2. Ctrl+PgDn on a database whose extension no plug-in is registered for
#      (a merge module) enters it by content, which asks the plug-in's
#      CanYouHandleThisFileW; it is copied out likewise.
#   3. Alt+Shift+F9 (Test archive) on a damaged database, the fixture
#      cut-in-stream.msi, whose stream Binary/cut the file holds only in
#      part: the host asks whether to skip each entry that fails, and is
#      told to.
# Each copied tree must equal the tree the package's `msiarc extract`
# writes, byte for byte, and the operation log must name every file
# extracted from inside the database and no error. The test of the damaged
# database must log each entry tested, and the cut stream (and its
# _Streams row) as damaged data ("Data is bad"), nothing else. Every wait is on what
# the host shows (window names, log lines, files) and bounded; a failure
# prints what the host did last and keeps everything in WORK_DIR.
#
# MSIARC_HOST_BY_EXTENSION and MSIARC_HOST_BY_CONTENT name other corpus
# databases; MSIARC_FIXTURE_DIR the folder of the built test databases
# (default BUILD_DIR/fixtures); MSIARC_HOST_TIMEOUT is the limit of each
# wait (seconds, 60).
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: real-host.sh BUILD_DIR [WORK_DIR]}" && pwd)
work=${2:-$build/real-host}
corpus=$("$here/scripts/corpus-dir.sh") || exit 2
by_extension=${MSIARC_HOST_BY_EXTENSION:-wix3__SimpleBinary.msi}
by_content=${MSIARC_HOST_BY_CONTENT:-wix__MergeModule1.msm}
damaged=${MSIARC_FIXTURE_DIR:-$build/fixtures}/cut-in-stream.msi
limit=${MSIARC_HOST_TIMEOUT:-60}
started=$SECONDS

for tool in Xvfb xdotool import doublecmd cpack dpkg-deb; do
  command -v "$tool" >/dev/null ||
    { echo "real-host: $tool is missing (scripts/bootstrap.sh installs it)" >&2; exit 2; }
done
for file in "$build/CPackConfig.cmake" "$build/msiarc.so" "$build/msiarc" \
    "$corpus/$by_extension" "$corpus/$by_content" "$damaged"; do
  [ -f "$file" ] || { echo "real-host: missing $file" >&2; exit 2; }
done

rm -rf "$work"
mkdir -p "$work"/{home,config,in/1,in/2,in/3,out/1,out/2,expected}
work=$(cd "$work" && pwd)
cp "$corpus/$by_extension" "$work/in/1/"
cp "$corpus/$by_content" "$work/in/2/"
cp "$damaged" "$work/in/3/"
oplog=$work/operations.log

# The plug-in and host as the package installs them.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "real-host: FAIL: cpack could not make the package"; exit 1; }
deb=$(ls "$work"/package/*.deb)
dpkg-deb -x "$deb" "$work/root"
plugin=$work/root/usr/lib/doublecmd/plugins/wcx/msiarc/msiarc.wcx
msiarc=$work/root/usr/bin/msiarc
[ -f "$plugin" ] && [ -x "$msiarc" ] ||
  { echo "real-host: FAIL: $(basename "$deb") does not install $plugin and $msiarc"; exit 1; }

# Nothing of the user's: home, configuration, caches and locale are ours.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
export XDG_CACHE_HOME=$work/home/.cache XDG_DATA_HOME=$work/home/.local/share
export LANG=C.UTF-8 LC_ALL=C.UTF-8 LANGUAGE=en
unset XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER

xvfb_pid='' host_pid=''
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

names() { xdotool search --onlyvisible --name "$1" getwindowname %@ 2>/dev/null; }
shot() { import -window root -crop 1280x720+0+0 +repage "$work/$1.png" 2>/dev/null; }

fail() {
  echo "real-host: FAIL: $*"
  shot failure
  echo "--- windows shown:"
  names . | grep -v '^doublecmd$'
  echo "--- files in the destinations:"
  (cd "$work/out" && find . -type f | sort | head -n 40)
  echo "--- operation log, last lines:"
  tail -n 5 "$oplog" 2>/dev/null
  echo "--- Double Commander's output, last lines (without the log's):"
  grep -v '^[0-9/]* [0-9:]* [AP]M ' "$work/doublecmd.out" 2>/dev/null | tail -n 15
  echo "--- kept in $work"
  exit 1
}

# wait_for DESCRIPTION COMMAND...: polls COMMAND until it succeeds, within
# the limit; also fails when the host is gone.
wait_for() {
  local what=$1 deadline=$((SECONDS + limit))
  shift
  until "$@"; do
    [ -n "$host_pid" ] && ! kill -0 "$host_pid" 2>/dev/null &&
      fail "Double Commander ended while waiting for $what"
    [ $SECONDS -ge $deadline ] && fail "no $what within ${limit}s"
    sleep 0.1
  done
}

# The main window's title names the active panel's folder while it shows
# one ("NAME (FOLDER/) - Double Commander"); inside an archive it has no
# folder.
window=''
title() {
  if [ -n "$window" ]; then xdotool getwindowname "$window" 2>/dev/null
  else names 'Double Commander'; fi
}
title_is_folder() { title | grep -qF "($1/)"; }
title_is_archive() { title | grep -q '^Double Commander'; }
dialog_shown() { names "$1" | grep -q .; }
dialog_gone() { ! dialog_shown "$1"; }

# The tree the package's command-line host writes (it finds the package's
# plug-in by itself), and its file count.
expected_count=()
for n in 1 2; do
  db=$(basename "$work"/in/$n/*)
  "$msiarc" extract "$work/in/$n/$db" "$work/expected/$n" >/dev/null ||
    fail "msiarc extract $db failed"
  expected_count[$n]=$(find "$work/expected/$n" -type f | wc -l)
done

# A display of its own. -noreset: the server would otherwise reset whenever
# its last client leaves, and refuse the file manager's connection meanwhile.
Xvfb -displayfd 3 -screen 0 1280x760x24 -nolisten tcp -noreset 3>"$work/display" \
  >"$work/xvfb.out" 2>&1 &
xvfb_pid=$!
display_known() {
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.out"; fail "Xvfb ended"; }
  [ -s "$work/display" ]
}
wait_for "free display from Xvfb" display_known
export DISPLAY=:$(head -n1 "$work/display")
display_answers() { display_known && xdotool getdisplaygeometry >/dev/null 2>&1; }
wait_for "display $DISPLAY to answer" display_answers

caps=$("$msiarc" caps | head -n1)
cat >"$work/config/doublecmd.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<doublecmd DCVersion="1.0.10" ConfigVersion="13">
  <Language>
    <POFileName>doublecmd.po</POFileName>
  </Language>
  <Behaviours>
    <ShowCurDirTitleBar>True</ShowCurDirTitleBar>
    <ListFilesInThread>False</ListFilesInThread>
    <LoadIconsSeparately>False</LoadIconsSeparately>
    <OnlyOneAppInstance>False</OnlyOneAppInstance>
  </Behaviours>
  <FileOperations>
    <ProgressKind>2</ProgressKind>
  </FileOperations>
  <ToolTips>
    <ShowToolTipMode>False</ShowToolTipMode>
  </ToolTips>
  <AutoRefresh>
    <Options>0</Options>
  </AutoRefresh>
  <Log Enabled="True" Count="0" LogFileWithDateInName="False">
    <FileName>$oplog</FileName>
    <Options>1023</Options>
  </Log>
  <Plugins>
    <WcxPlugins>
      <WcxPlugin Enabled="True">
        <ArchiveExt>msi</ArchiveExt>
        <Path>$plugin</Path>
        <Flags>$caps</Flags>
      </WcxPlugin>
    </WcxPlugins>
  </Plugins>
</doublecmd>
EOF

doublecmd --config-dir="$work/config" --servername="msiarc-real-host-$$" --no-splash \
  -L "$work/in/1" -R "$work/out/1" >"$work/doublecmd.out" 2>&1 &
host_pid=$!
wait_for "main window showing $work/in/1" title_is_folder "$work/in/1"
window=$(xdotool search --onlyvisible --name 'Double Commander' | head -n1)
# No window manager: the window is placed at the top of the screen and given
# the keyboard focus before each key the panels take; a click into a file
# list makes its panel active and gives it the keyboard within the window
# (the title then names that panel's folder). Tab makes the right panel
# active once keys arrive at all; until then the click is repeated.
xdotool windowmove --sync "$window" 0 0 windowsize --sync "$window" 1280 720
key() { xdotool windowfocus "$window" key --delay 50 "$@"; }
dialog_key() { xdotool key --delay 50 "$@"; }
click_left() { xdotool mousemove 200 400 click 1; }
click_right() { xdotool mousemove 900 400 click 1; }
keys_arrive() {
  click_left
  key Tab
  local until=$((SECONDS + 3))
  while [ $SECONDS -lt $until ]; do
    title_is_folder "$work/out/1" && return 0
    sleep 0.1
  done
  return 1
}
wait_for "keys to reach the file panels" keys_arrive
click_left
wait_for "left panel active" title_is_folder "$work/in/1"

# With the cursor on [..], F5 opens the copy dialog only when Ctrl+A has
# marked something. Now and then, on a loaded machine, a Ctrl+A right after
# a click into the list marks nothing: the keys are sent again, and the
# output says so.
open_copy_dialog() {
  key Home ctrl+a F5
  local until=$((SECONDS + 10))
  while [ $SECONDS -lt $until ]; do
    dialog_shown '^Copy file' && return 0
    sleep 0.1
  done
  echo "real-host: no copy dialog 10 s after Home, Ctrl+A, F5: sent again"
  return 1
}

# copy_out N: marks everything in the archive of the left panel, copies it
# to the right panel and waits for the operation log to name every file.
copy_out() {
  local n=$1 db
  db=$(basename "$work"/in/$n/*)
  shot "$n-listing"
  wait_for "copy dialog" open_copy_dialog
  dialog_key Return
  wait_for "copy dialog to close" dialog_gone '^Copy file'
  extracted() {
    grep -q 'Error: ' "$oplog" && return 0
    [ "$(grep -c "Extract file $work/in/$n/$db/" "$oplog")" -ge "${expected_count[$n]}" ]
  }
  wait_for "log line for each of the ${expected_count[$n]} files of $db" extracted
  grep 'Error: ' "$oplog" && fail "the operation log reports an error"
  grep -q "Copy file $work/in/$n/" "$oplog" &&
    fail "the host copied the database file itself: it did not enter $db"
  shot "$n-copied"
  if ! diff -r "$work/expected/$n" "$work/out/$n" >"$work/diff-$n.txt"; then
    head -n 20 "$work/diff-$n.txt"
    fail "$db: the copied tree differs from msiarc extract's ($work/diff-$n.txt)"
  fi
  echo "real-host: $db: ${expected_count[$n]} files copied out, equal to msiarc extract's"
}

# enter_left_archive WHAT: the right panel, then the left one made active
# by clicks; the title then says whether the left one shows an archive.
enter_left_archive() {
  click_right
  wait_for "right panel active" title_is_folder "$work/out/$1"
  click_left
  wait_for "left panel inside $2" title_is_archive
}

# 1. By extension: Return on the .msi database.
key Home Down Return
enter_left_archive 1 "$by_extension"
copy_out 1

# 2. By content: leave the archive, go to the merge module's folder,
#    Ctrl+PgDn on it; the right panel moves to the second destination.
click_left
key BackSpace
wait_for "left panel back in $work/in/1" title_is_folder "$work/in/1"
key BackSpace
wait_for "left panel in $work/in" title_is_folder "$work/in"
key Down Return
wait_for "left panel in $work/in/2" title_is_folder "$work/in/2"
key Home Down ctrl+Next
click_right
wait_for "right panel active" title_is_folder "$work/out/1"
key BackSpace
wait_for "right panel in $work/out" title_is_folder "$work/out"
key Down Return
wait_for "right panel in $work/out/2" title_is_folder "$work/out/2"
click_left
wait_for "left panel inside $by_content (by content)" title_is_archive
copy_out 2

# 3. Test archive on the damaged database: back to the folders, then
#    Alt+Shift+F9 on it. Each entry that fails brings a question (skip or
#    abort); Return takes its default, skip.
damaged_db=$work/in/3/$(basename "$damaged")
mapfile -t damaged_entries < <("$msiarc" list "$damaged_db" | cut -f3)
mapfile -t damaged_failures < <("$msiarc" test "$damaged_db" 2>&1 >/dev/null |
  sed -n 's/^msiarc test: \(.*\): data is damaged$/\1/p')
[ ${#damaged_failures[@]} -gt 0 ] || fail "msiarc test finds nothing damaged in $damaged_db"
click_left
key BackSpace
wait_for "left panel back in $work/in/2" title_is_folder "$work/in/2"
key BackSpace
wait_for "left panel in $work/in" title_is_folder "$work/in"
key Down Return
wait_for "left panel in $work/in/3" title_is_folder "$work/in/3"
key Home Down alt+shift+F9
tested_all() {
  [ "$(grep -c "Test file integrity $damaged_db/" "$oplog")" -ge "${#damaged_entries[@]}" ]
}
skip_question() {
  tested_all && return 0
  local before
  before=$(grep -c "Error: Test file integrity $damaged_db/" "$oplog")
  [ "$before" -gt "${skipped:-0}" ] || return 1
  # A question for the entry just logged: skip it.
  sleep 0.5
  dialog_key Return
  skipped=$before
  return 1
}
wait_for "a log line for each of the ${#damaged_entries[@]} entries tested" skip_question
shot 3-tested
for entry in "${damaged_failures[@]}"; do
  grep -F "Error: Test file integrity $damaged_db/$entry : " "$oplog" | grep -q ' : Data is bad$' ||
    fail "the operation log does not name $entry as damaged data"
done
errors=$(grep -c "Error: " "$oplog")
[ "$errors" -eq ${#damaged_failures[@]} ] ||
  fail "the operation log has $errors errors, ${#damaged_failures[@]} expected (the damaged entries)"
echo "real-host: $(basename "$damaged"): ${#damaged_entries[@]} entries tested, ${damaged_failures[*]} logged as damaged data"

key alt+x
host_done() { ! kill -0 "$host_pid" 2>/dev/null; }
wait_for "Double Commander to exit" host_done
wait "$host_pid"
host_pid=''
[ "$(grep -c 'Error: ' "$oplog")" -eq ${#damaged_failures[@]} ] &&
  ! grep 'Error: ' "$oplog" | grep -v ' : Data is bad$' ||
  fail "the operation log reports an error"
echo "real-host: passed in $((SECONDS - started)) s; screenshots in $work"
