#!/usr/bin/env bash
# The Windows files checked as the system will read them. The 32-bit parts,
# which no program here can run: 32-bit x86, the bridge loading a library
# and talking over its pipe with nothing but the system's libraries, the
# simulator exporting the twelve calls by their plain names, each a standard
# call that pops its own arguments, and standing alone. The program: a
# Windows program with windows only (no console beside them), with its icon
# in the sizes Windows shows, its version in Spanish and a well-formed
# manifest that asks for no raised rights.
# Usage: check_pe.sh FOLDER [PROGRAM_FOLDER] (the 32-bit and 64-bit builds'
# bin folders)
set -uo pipefail
bin=$1
x64=${2:-}
od=i686-w64-mingw32-objdump
failed=0
passed=0
check() { # name, then the test
  local name=$1; shift
  if "$@"; then echo "ok   $name"; passed=$((passed + 1)); else echo "FAIL $name"; failed=$((failed + 1)); fi
}
is_i386() { local head; head=$($od -f "$1"); grep -q "file format pei-i386" <<<"$head"; }
imports() { $od -p "$1" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' '; }
only_system() { [ "$(imports "$1")" = "kernel32.dll msvcrt.dll " ]; }
imports_calls() {
  local table; table=$($od -p "$1"); shift
  for c in "$@"; do grep -qE "[0-9]+ +$c\$" <<<"$table" || return 1; done
}
exports() { $od -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\t\[ *[0-9]*\] //p'; }
calls="IniciarCNX:12 FinalizarCNX:8 LeerTemperatura:12 LeerHRT:12 SetupAD:12 LeerAD:12 LeerDET:12 EscribirCTR:16
BuscarSensoresTra:12 BuscarConversoresAD:12 BuscarDetectores:12 ConvertSerialNum:8"
plain_exports() {
  local names; names=$(exports "$1")
  for c in $calls; do grep -qx "${c%%:*}" <<<"$names" || return 1; done
}
# The compiler names a standard call "_Name@bytes"; its returns pop them.
standard_calls() {
  for c in $calls; do
    local n=${c%%:*} b=${c##*:}
    local code; code=$($od -d "$1" --disassemble="_$n@$b")
    grep -qE "ret +\\\$0x$(printf %x "$b")\$" <<<"$code" || { echo "  $n"; return 1; }
  done
}

check "bridge32.exe is 32-bit x86" is_i386 "$bin/bridge32.exe"
check "bridge32.exe needs only the system's libraries" only_system "$bin/bridge32.exe"
check "bridge32.exe loads a library and uses its pipe" imports_calls "$bin/bridge32.exe" LoadLibraryExW GetProcAddress ReadFile WriteFile
check "SondaIO.DLL is 32-bit x86" is_i386 "$bin/SondaIO.DLL"
check "SondaIO.DLL needs only the system's libraries" only_system "$bin/SondaIO.DLL"
check "SondaIO.DLL exports the twelve calls by plain name" plain_exports "$bin/SondaIO.DLL"
check "SondaIO.DLL calls are standard calls" standard_calls "$bin/SondaIO.DLL"
if [ -n "$x64" ]; then
  exe=$x64/Climalog.exe
  resources() { x86_64-w64-mingw32-windres -i "$exe" -O rc 2>/dev/null; }
  has_all() { local text; text=$(cat); for line in "$@"; do grep -qF -- "$line" <<<"$text" || return 1; done; }
  gui() { x86_64-w64-mingw32-objdump -p "$exe" | grep -E "^Subsystem[[:space:]]+00000002[[:space:]]+\(Windows GUI\)" >/dev/null; }
  # The group's entries: width, height (0 is 256), colours, reserved.
  icon() {
    resources | has_all '"IDI_ICON1" 14 /* RT_GROUP_ICON */' '"\020\020\000\000", 1, 32' '"\040\040\000\000", 1, 32' \
      '"\060\060\000\000", 1, 32' '"\000\000\000\000", 1, 32'
  }
  version() {
    resources | has_all 'BLOCK "0c0a04e4"' 'VALUE "ProductName", "Climalog"' 'VALUE "OriginalFilename", "Climalog.exe"' \
      'VALUE "Translation", 0xc0a, 1252' ' FILEVERSION '
  }
  # The text between the quotes of each line, as the system reads it.
  manifest() {
    resources | sed -n '/^1 24 \/\* RT_MANIFEST/,/^END/p' | sed -nE 's/^  "(.*)\\n"$/\1/p' | sed 's/""/"/g' |
      python3 -c 'import sys, xml.dom.minidom as x; x.parseString(sys.stdin.buffer.read())' 2>/dev/null || return 1
    resources | has_all 'requestedExecutionLevel level=""asInvoker""' 'supportedOS Id=""{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}""'
  }
  check "Climalog.exe is a Windows program with windows only" gui
  check "Climalog.exe carries its icon in four sizes" icon
  check "Climalog.exe carries its version in Spanish" version
  check "Climalog.exe carries a well-formed manifest asking for the user's own rights" manifest
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
