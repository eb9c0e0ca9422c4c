#!/usr/bin/env bash
# Installs what the Windows build needs, when missing (the cross compilers
# for 64-bit and 32-bit Windows, Qt's host tools and Spanish translations
# (the same files serve every system), GoogleTest's sources, wine,
# zip, Python for the program's icon), and unpacks the Qt SDK for Windows into FOLDER when it is not there
# or older than its archive.
# Usage: scripts/setup-windows.sh FOLDER
# The archive is ../shared/windows/qt6-mingw64.tar.xz beside the repository,
# or CLIMALOG_WINDOWS_SDK.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=$1

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          qt6-base-dev-tools qt6-translations-l10n googletest wine wine64 xz-utils zip xvfb xauth python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

archive=${CLIMALOG_WINDOWS_SDK:-$root/../shared/windows/qt6-mingw64.tar.xz}
if [ ! -f "$archive" ]; then
  echo "No Qt SDK for Windows at $archive (set CLIMALOG_WINDOWS_SDK)." >&2
  exit 1
fi
if [ ! -f "$folder/mingw64.cmake" ] || [ "$archive" -nt "$folder/mingw64.cmake" ]; then
  rm -rf "$folder"
  mkdir -p "$folder"
  tar xJf "$archive" -C "$folder"
  touch "$folder/mingw64.cmake"
fi
