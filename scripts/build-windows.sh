#!/usr/bin/env bash
# Cross-builds Climalog for Windows into FOLDER: FOLDER/x64 holds the 64-bit
# program, the simulator as SondaIO.DLL, the runtime libraries and plugins
# (and the tests, with the 64-bit bridge); FOLDER/x86 the 32-bit bridge and
# the 32-bit simulator for the maker's 32-bit library.
# Usage: scripts/build-windows.sh FOLDER [cmake options for the 64-bit build...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=$(mkdir -p "$1" && cd "$1" && pwd)
shift
"$root/scripts/setup-windows.sh" "$folder/sdk"
# -O2: GCC 12 at -O3 warns falsely about string copies in the tests.
flags=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG")
"$root/scripts/build.sh" "$folder/x64" -DCMAKE_TOOLCHAIN_FILE="$folder/sdk/mingw64.cmake" "${flags[@]}" "$@"
"$root/scripts/build.sh" "$folder/x86" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw32.cmake" "${flags[@]}" \
  -DCLIMALOG_NETWORK_ONLY=ON
