#!/usr/bin/env bash
# Measures how many small faults the tests catch: each mutant of
# scripts/mutants.txt (a fixed list: file, exact original text, replacement,
# and the test programs that can see the change) is applied alone to a
# scratch copy of the tree, the scratch build rebuilds the test programs that
# link the file, and they run (the listed ones first) until one fails. A
# failure counts when the failing test fails twice more on its own; one that
# then passes is reported as flaky. Prints killed, survived and "no compila"
# (a mutant that does not build is no kill), with the survivors.
#   scripts/mutants.sh [IDS...]        all mutants, or only these
#   scripts/mutants.sh --check         only checks that every mutant applies
# The scratch tree, its build and a log per mutant are in build-mutants/.
# Runs outside CI: about an hour on two cores; ccache keeps rebuilds short.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--check" ]; then
  exec python3 "$root/scripts/mutants.py" --check
fi
"$root/scripts/setup.sh"
if ! command -v ccache >/dev/null 2>&1; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends ccache
fi
mkdir -p "$root/build-mutants"
export CCACHE_DIR="$root/build-mutants/ccache"
export QT_QPA_PLATFORM=offscreen
# One virtual display and one database server for the whole run.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  "$root/scripts/testdb.sh" run python3 "$root/scripts/mutants.py" "$@"
