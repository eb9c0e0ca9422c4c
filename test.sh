#!/usr/bin/env bash
# Builds Climalog and runs every test twice: once in a normal build and once
# built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

echo "== normal build"
"$root/scripts/build.sh" "$root/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd "$root/build-test" && ctest --output-on-failure -j"$jobs")

echo "== sanitized build (AddressSanitizer, UndefinedBehaviorSanitizer)"
"$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DCLIMALOG_SANITIZE=ON -DCLIMALOG_BENCH=OFF
(cd "$root/build-asan" && ctest --output-on-failure -j"$jobs")
