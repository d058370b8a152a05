#!/usr/bin/env bash
# Builds every preset the tests need and runs every test: the Windows build
# (its tests under wine64), the native build under AddressSanitizer and
# UndefinedBehaviorSanitizer (with the cross-build comparisons, and the file
# manager test, which loads the plug-in and host of native-release), and the
# concurrency tests under ThreadSanitizer. Ends with each run's summary;
# exits non-zero when anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${MSIARC_JOBS:-$(nproc)}

"$root/scripts/bootstrap.sh" || { echo "test.sh: bootstrap failed" >&2; exit 1; }

declare -a summary
status=0

# configure PRESET [CMAKE ARGS...]
configure() {
  local preset=$1
  shift
  echo "== $preset: configure and build"
  if ! cmake --preset "$preset" "$@" >"$root/build/$preset-configure.log" 2>&1; then
    cat "$root/build/$preset-configure.log"
    return 1
  fi
}

# configure_and_build PRESET [CMAKE ARGS...]
configure_and_build() {
  configure "$@" && cmake --build --preset "$1" -j "$jobs"
}

# run_tests PRESET [CTEST ARGS...]
run_tests() {
  local preset=$1
  shift
  echo "== $preset: tests"
  local log="$root/build/$preset-ctest.log"
  ctest --preset "$preset" -j "$jobs" "$@" 2>&1 | tee "$log"
  local result=${PIPESTATUS[0]}
  summary+=("$preset: $(grep -E 'tests passed|No tests were found' "$log" | tail -1)")
  return "$result"
}

mkdir -p "$root/build"
step() {  # step NAME COMMAND...: runs a step, records a failure
  local name=$1
  shift
  if ! "$@"; then
    status=1
    summary+=("$name: FAILED")
    return 1
  fi
}

if step "windows build" configure_and_build windows; then
  step "windows tests" run_tests windows
fi
# The plug-in and host without sanitizers, for the file manager test: a
# file manager cannot load the sanitized library.
build_release_host() {
  configure native-release &&
    cmake --build --preset native-release -j "$jobs" --target msiarc msiarc_host
}
step "native-release build" build_release_host
if step "native build" configure_and_build native \
    -DMSIARC_WINDOWS_BUILD_DIR="$root/build/windows" \
    -DMSIARC_RELEASE_BUILD_DIR="$root/build/native-release"; then
  step "native tests" run_tests native
fi
if step "native-tsan build" configure_and_build native-tsan; then
  step "native-tsan tests" run_tests native-tsan -R Concurrency
fi

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$status"
