#!/usr/bin/env bash
# Takes the README's screenshots: the main window of the built program in a
# folder of its own, on the simulated network with a device of every type,
# under a virtual display; then the capture viewer on a simulated day; then
# the web page in headless Chromium, on a private database. With --windows,
# the main window of the Windows build running under wine.
# Usage: scripts/screenshot.sh [BUILD_FOLDER] | scripts/screenshot.sh --windows
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows=0
if [ "${1:-}" = "--windows" ]; then
  windows=1
  shift
fi
build=${1:-$root/build}
need=()
for p in x11-apps imagemagick xvfb xauth; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ "$windows" = 1 ]; then
  "$root/scripts/build-windows.sh" "$root/build-windows" >/dev/null
  bin=$root/build-windows/x64/bin
  cp -r "$bin"/Climalog.exe "$bin"/*.dll "$bin"/SondaIO.DLL "$bin"/platforms "$bin"/styles "$work/"
else
  "$root/scripts/build.sh" "$build" -DCLIMALOG_BENCH=ON >/dev/null
  cp "$build/bin/Climalog" "$build/bin/libSondaIO.so" "$work/"
fi

# One 140-byte configuration record: name, serial hex, type code, gains.
record() {
  local name=$1 serial=$2 type=$3 avi=$4
  printf '%-16.16s' "$name"
  printf "$(echo "$serial" | sed 's/../\\x&/g')"
  printf "\\x$(printf %02x "$type")\\x00"
  if [ "$avi" = 1 ]; then printf '\x01\x00\x01\x00\x01\x00\x01\x00'; else printf '\x00%.0s' $(seq 8); fi
  printf '\x00%.0s' $(seq 16)
  if [ "$avi" = 1 ]; then printf '\x00\x00\x80\x3f%.0s' 1 2 3 4; else printf '\x00%.0s' $(seq 16); fi
  printf '%-8s%-8s%-8s%-8s' "C" "%" "bar" "l/min"
  printf '\x00%.0s' $(seq 40)
  printf '\x01\x00'
}
{
  printf '%-16s' "00"; printf '\x00%.0s' $(seq 124)
  record "Bomba" 20C4001A0F000044 3 1
  record "Calefaccion" 3A7C11B200000077 5 0
  record "Ventilador" 3AFFFFFFFFFFFF88 5 0
  record "Puerta" 1D5EE30700000055 4 0
  record "Ventana" 1D0000FF00FF0066 4 0
  record "Invernadero" 26E1905C00000033 2 0
  record "Pasillo" 2800B74410FF0022 1 0
  record "Sala" 28A3F2C501080011 1 0
} > "$work/config1.ini"

mkdir -p "$root/docs"
if [ "$windows" = 1 ]; then
  # The windows platform on the virtual display, with wine's own fonts.
  out="$root/docs/principal-windows.png"
  (cd "$work" && xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$root/scripts/wine.sh" "$root/build-windows/wine" bash -c '
    wine Climalog.exe /1 & pid=$!
    sleep 12
    xwd -silent -name "Climalog [COM1]" | convert xwd:- "'"$out"'"
    kill $pid; wait $pid || true')
  echo "$out"
  exit 0
fi

out="$root/docs/principal.png"
(cd "$work" && xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c '
  ./Climalog /1 & pid=$!
  sleep 6
  xwd -silent -name "Climalog [COM1]" | convert xwd:- "'"$out"'"
  kill $pid; wait $pid || true')
echo "$out"

# The capture viewer on a simulated day of captures, the real window drawn
# offscreen.
QT_QPA_PLATFORM=offscreen "$build/bin/viewer_bench" --imagen "$root/docs/graficas.png" >/dev/null
echo "$root/docs/graficas.png"

# The web page of two stations archived into a private database.
"$root/scripts/testdb.sh" run /usr/bin/python3 "$root/scripts/web_screenshots.py" "$build/bin" "$root/docs"
echo "$root/docs/web-resumen.png $root/docs/web-graficas.png"
