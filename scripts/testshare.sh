#!/usr/bin/env bash
# The size of the tests against the program they test: non-blank lines that
# are not comments, of the C and C++ files under tests/ against those of the
# program (src/, sim/, bridge/). bench/ is neither: it measures, it asserts
# nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
count() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0 |
    xargs -0 -r cat | grep -cvE '^\s*(//.*)?$' || true
}
code=$(count src sim bridge)
tests=$(count tests)
awk -v t="$tests" -v c="$code" 'BEGIN {
  printf "Test code: %d lines; program code: %d lines; tests are %.1f %% of the program code (goal: at most 35 %%)\n", t, c, 100 * t / c
}'
