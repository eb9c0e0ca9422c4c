#!/usr/bin/env bash
# The Windows stage of the tests: cross-builds the program, the simulator
# libraries, the bridges and the test programs into FOLDER, checks the 32-bit
# parts in their files (no 32-bit program runs here) and the program's file
# (a windowed program with its resources), and runs the 64-bit
# tests under wine, headless: window tests on the offscreen platform, the
# end-to-end run of the program on a virtual display.
# Usage: scripts/test-windows.sh FOLDER
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=$(mkdir -p "$1" && cd "$1" && pwd)
"$root/scripts/build-windows.sh" "$folder" -DCMAKE_CROSSCOMPILING_EMULATOR=wine -DCLIMALOG_BENCH=OFF
"$root/tests/windows/check_pe.sh" "$folder/x86/bin" "$folder/x64/bin"
xvfb-run -a -s "-screen 0 1024x768x24" \
  "$root/scripts/wine.sh" "$folder/wine" ctest --test-dir "$folder/x64" --output-on-failure -j2
