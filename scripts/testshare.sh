#!/usr/bin/env bash
# The size of the tests against the program they test: non-blank lines that
# are not comments, of the C, C++, Python and script files under tests/
# against those of the program (src/ with the central schema's SQL and the
# web page's own scripts, page and styles, sim/, bridge/). bench/ is neither: it measures, it asserts nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
count() {
  find "$@" -path '*/node_modules' -prune -o -type f \
    \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.py' -o -name '*.js' -o -name '*.mjs' \
       -o -name '*.html' -o -name '*.css' -o -name '*.sql' \) -print0 |
    xargs -0 -r cat | grep -cvE '^\s*((//|--|#(\s|$)).*)?$' || true
}
code=$(count src sim bridge)
tests=$(count tests)
awk -v t="$tests" -v c="$code" 'BEGIN {
  printf "Test code: %d lines; program code: %d lines; tests are %.1f %% of the program code (goal: at most 35 %%)\n", t, c, 100 * t / c
}'
