#!/usr/bin/env bash
# Configures and builds one build folder: build.sh FOLDER [cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=$1
shift
generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$folder/CMakeCache.txt" ]; then
  generator=(-G Ninja)
fi
cmake -S "$root" -B "$folder" "${generator[@]}" "$@" >/dev/null
cmake --build "$folder" -j"$(nproc)"
