#!/usr/bin/env bash
# Builds Climalog-windows-x64.zip: the 64-bit program with the simulator as
# SondaIO.DLL, the 32-bit bridge for the maker's 32-bit library, the Qt and
# C++ runtime libraries and plugins in Qt's layout, the toolkit's Spanish
# texts, and LEEME.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/setup.sh"
build=$root/build-windows-package
"$root/scripts/build-windows.sh" "$build" -DCLIMALOG_TESTS=OFF -DCLIMALOG_BENCH=OFF
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir=$stage/Climalog
mkdir -p "$dir/simulador-32bits"
bin=$build/x64/bin
cp "$bin"/Climalog.exe "$bin"/SondaIO.DLL "$bin"/*.dll "$dir/"
rm -f "$dir/Qt6Test.dll"
mkdir -p "$dir/platforms" "$dir/styles" "$dir/translations"
cp "$bin/platforms/qwindows.dll" "$dir/platforms/"
cp "$bin/translations/qtbase_es.qm" "$dir/translations/"
cp "$bin/styles/qwindowsvistastyle.dll" "$dir/styles/"
cp "$build/x86/bin/bridge32.exe" "$dir/"
cp "$build/x86/bin/SondaIO.DLL" "$dir/simulador-32bits/"
x86_64-w64-mingw32-strip "$dir/Climalog.exe" "$dir/SondaIO.DLL"
i686-w64-mingw32-strip "$dir/bridge32.exe" "$dir/simulador-32bits/SondaIO.DLL"
# What goes in the package is what the tests check: the 32-bit parts as
# built, and the packaged program as a windowed one with its icon, version
# and manifest.
"$root/tests/win32/check_pe.sh" "$build/x86/bin" "$dir"
# Windows reads the text with CR LF line ends.
sed 's/$/\r/' "$root/docs/LEEME.txt" | iconv -f UTF-8 -t WINDOWS-1252 > "$dir/LEEME.txt"
rm -f "$root/Climalog-windows-x64.zip"
(cd "$stage" && zip -qr9 "$root/Climalog-windows-x64.zip" Climalog)
echo "$root/Climalog-windows-x64.zip"
