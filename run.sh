#!/usr/bin/env bash
# Builds Climalog and starts it on the simulated network. Arguments go to the
# program (for example: ./run.sh /1).
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLIMALOG_TESTS=OFF -DCLIMALOG_BENCH=OFF
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting on a virtual display (xvfb-run)."
  exec xvfb-run -a "$root/build/bin/Climalog" "$@"
fi
exec "$root/build/bin/Climalog" "$@"
