#!/usr/bin/env bash
# The 32-bit parts, which no program here can run, checked in their files:
# 32-bit x86, the bridge loading a library and talking over its pipe with
# nothing but the system's libraries, the simulator exporting the twelve
# calls by their plain names, each a standard call that pops its own
# arguments, and standing alone.
# Usage: check_pe.sh FOLDER (the 32-bit build's bin folder)
set -uo pipefail
bin=$1
od=i686-w64-mingw32-objdump
failed=0
check() { # name, then the test
  local name=$1; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failed=$((failed + 1)); fi
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
echo "$((7 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
