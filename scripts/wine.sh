#!/usr/bin/env bash
# Runs a command with a wine of its own in FOLDER (created on first use),
# quiet, its server kept between the command's programs so each starts fast.
# Usage: scripts/wine.sh FOLDER COMMAND...
set -euo pipefail
export WINEPREFIX=$(mkdir -p "$1" && cd "$1" && pwd)
shift
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Its services start here, detached from the command's output: a test
# runner reading the output would otherwise wait for them forever.
wineserver -p 60 </dev/null >/dev/null 2>&1 || true  # already running
wine wineboot -i </dev/null >/dev/null 2>&1
status=0
"$@" || status=$?
wineserver -k >/dev/null 2>&1 || true
exit $status
