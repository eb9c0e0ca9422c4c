#!/usr/bin/env bash
# Builds Climalog and runs every test twice: once in a normal build and once
# built with AddressSanitizer and UndefinedBehaviorSanitizer, each run with a
# private PostgreSQL server for the archive tests (scripts/testdb.sh) and a
# virtual X display for the window tests; then the Windows build,
# cross-built, with its tests under wine.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen
# Sanitizer reports stop the test that caused them; the system's font
# configuration keeps allocations for the whole process, which are not ours.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
jobs=$(nproc)
# The window tests of tests/x11 drive the real windows on an X display: the
# tests run under a virtual one of their own.
xdisplay=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp")
# Each stage's results, for the summary at the end.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

echo "== normal build"
"$root/scripts/build.sh" "$root/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd "$root/build-test" && "${xdisplay[@]}" "$root/scripts/testdb.sh" run ctest --output-on-failure -j"$jobs") | tee "$logs/normal"

echo "== sanitized build (AddressSanitizer, UndefinedBehaviorSanitizer)"
"$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DCLIMALOG_SANITIZE=ON -DCLIMALOG_BENCH=OFF
(cd "$root/build-asan" && "${xdisplay[@]}" "$root/scripts/testdb.sh" run ctest --output-on-failure -j"$jobs") | tee "$logs/sanitized"

echo "== Windows build (cross-built; 32-bit parts checked in their files, 64-bit tests under wine)"
"$root/scripts/test-windows.sh" "$root/build-windows" | tee "$logs/windows"

echo "== summary"
"$root/scripts/testshare.sh"
for stage in normal sanitized windows; do
  printf '%-10s %s\n' "$stage:" "$(grep -E 'tests passed' "$logs/$stage" | tail -n 1)"
done
