#!/usr/bin/env bash
# Line and branch coverage of the program code, per folder, from one run of
# the whole test suite on a coverage build (gcc --coverage, no optimisation,
# so that every line of the source maps to counted code).
#   scripts/coverage.sh [BUILD_FOLDER]     default: build-coverage/
# Runs outside CI and takes several minutes. The full gcovr report stays in
# BUILD_FOLDER/coverage/ (coverage.json, and index.html per file).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-coverage}")
"$root/scripts/setup.sh"
if ! command -v gcovr >/dev/null 2>&1; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends gcovr
fi
export QT_QPA_PLATFORM=offscreen
xdisplay=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp")
started=$(date +%s)

flags="--coverage -O0"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Debug -DCLIMALOG_BENCH=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DCMAKE_MODULE_LINKER_FLAGS=--coverage
built=$(date +%s)

# Counts of an earlier run would add up with this one's.
find "$build" -name '*.gcda' -delete
status=0
(cd "$build" && "${xdisplay[@]}" "$root/scripts/testdb.sh" run ctest -j"$(nproc)" >"$build/ctest.log" 2>&1) || status=$?
tested=$(date +%s)
grep -E "tests passed|tests failed" "$build/ctest.log" | tail -1 || true
[ "$status" -eq 0 ] || { echo "Some tests failed (log: $build/ctest.log); the figures count what ran."; grep -E "^\s+[0-9]+ - " "$build/ctest.log" | head -20; }

# Only the program code counts: the tests, the benchmarks and the moc files
# generated into the build folder are left out by the filters. Branches that
# only exist for exception unwinding are not decisions of the code.
out="$build/coverage"
mkdir -p "$out"
gcovr --root "$root" --object-directory "$build" \
  --filter "$root/src/" --filter "$root/sim/" \
  --exclude-throw-branches --exclude-unreachable-branches \
  -j"$(nproc)" --json "$out/coverage.json" --html-details "$out/index.html" >/dev/null 2>"$out/gcovr.log"

python3 - "$out/coverage.json" <<'EOF'
import json, sys
folders = ["src/registry", "src/netaccess", "src/shell", "src/monitor", "src/dialogs",
           "src/viewer", "src/platform", "src/archive", "src/central", "src/web", "sim"]
sums = {f: [0, 0, 0, 0] for f in folders + ["total"]}
for f in json.load(open(sys.argv[1]))["files"]:
    name = f["file"]
    folder = next((d for d in folders if name.startswith(d + "/")), None)
    if folder is None:
        continue
    lines = [l for l in f["lines"] if not l.get("gcovr/noncode")]
    counts = [sum(1 for l in lines if l["count"] > 0), len(lines),
              sum(1 for l in lines for b in l["branches"] if b["count"] > 0),
              sum(len(l["branches"]) for l in lines)]
    for key in (folder, "total"):
        sums[key] = [a + b for a, b in zip(sums[key], counts)]
pct = lambda a, b: f"{100 * a / b:5.1f} %" if b else "    - "
print(f"{'folder':<14} {'lines':<21}  {'branches':<21}")
for key, (lc, lt, bc, bt) in sums.items():
    print(f"{key:<14} {pct(lc, lt)} {lc:>6}/{lt:<6}  {pct(bc, bt)} {bc:>6}/{bt:<6}")
EOF
# The page's script is not compiled: Node counts what its own tests run
# (the browser's test runs the rest).
if command -v node >/dev/null 2>&1; then
  (cd "$root" && node --test --experimental-test-coverage tests/web/app.test.mjs 2>&1) |
    sed -n 's/^# \(src\/web\/page\/[^ ]*\) *| *\([0-9.]*\) *| *\([0-9.]*\) *|.*/\1 (node --test): lines \2 %, branches \3 %/p'
fi
echo "build $((built - started)) s, tests $((tested - built)) s, report $(( $(date +%s) - tested )) s; details: $out/index.html"
