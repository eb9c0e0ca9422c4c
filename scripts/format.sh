#!/usr/bin/env bash
# The C and C++ sources in the project's style (.clang-format).
#   scripts/format.sh           rewrites every source file in place
#   scripts/format.sh --check   lists the files that are not, exit 1 if any
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(find src sim bridge tests bench \
    -path src/web/node_modules -prune -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print | sort)
if [[ ${1:-} == --check ]]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
      echo "Not in the project's style: $f (scripts/format.sh applies it)"
      bad=1
    fi
  done
  exit $bad
fi
clang-format -i "${files[@]}"
