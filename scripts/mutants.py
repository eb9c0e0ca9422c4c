#!/usr/bin/env python3
"""Runs the mutants of scripts/mutants.txt one at a time in a scratch copy
of the tree with one scratch build: apply, rebuild the tests that can see
the mutated file, run them (the mutant's own list first, then the others
that see it, quickest first; each with a timeout, stopping at the first that
fails), restore. Two kinds of test: the C++ test programs (one per folder of
tests/, named by their folder), which see the sources they link; and the
tests CTest runs through scripts (the web page in a browser, the page's
script under Node; named as CTest names them), which see the programs they
drive and the files they read as they are. scripts/mutants.sh calls this
inside one virtual display and one private database server; see it for the
options."""

import argparse
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# X11 tests drive real windows; every other program runs offscreen, as the
# test list of tests/CMakeLists.txt says.
PLATFORM = {"x11": "xcb"}
# The tests CTest runs through a script: the programs each one drives (their
# sources are what it sees of the build) and the folders or files it reads
# without a build step (the page's files, which the web program also takes
# in as resources, and the scripts themselves).
SCRIPTED = {
    "web_pagina": {"targets": ["climalog-web", "climalog-archivo", "climalog-avisos", "captura_web"],
                   "reads": ["src/web/page/", "tests/web/test_pagina.py", "tests/web/browser.py", "tests/web/comun.py"]},
    "web_servidor": {"targets": ["climalog-web", "climalog-archivo", "captura_web"],
                     "reads": ["tests/web/test_servidor.py", "tests/web/comun.py"]},
    "web_script": {"targets": [], "reads": ["src/web/page/", "tests/web/app.test.mjs"]},
}


class Mutant:
    def __init__(self, ident, line):
        self.id = ident
        self.line = line
        self.file = ""
        self.what = ""
        self.tests = []
        self.old = []
        self.new = []

    @property
    def original(self):
        return "\n".join(self.old)

    @property
    def replacement(self):
        return "\n".join(self.new)


def parse(path):
    """Blocks separated by blank lines: 'id:', 'file:', 'what:', 'tests:',
    then '- ' lines (the exact original text, several lines joined by line
    ends) and '+ ' lines (its replacement; a lone '+' is an empty line).
    'exclude:' lines before the first block name tests left out of every
    run. Returns the mutants and the excluded tests."""
    mutants, excluded, current = [], [], None
    for number, raw in enumerate(Path(path).read_text(encoding="utf-8").splitlines(), 1):
        if raw.startswith("#"):
            continue
        if not raw.strip():
            current = None
            continue
        key, _, value = raw.partition(":")
        if raw.startswith("exclude:") and not mutants:
            excluded += value.split()
        elif raw.startswith("id:"):
            current = Mutant(value.strip(), number)
            mutants.append(current)
        elif current is None:
            sys.exit(f"{path}:{number}: a mutant starts with 'id:'")
        elif raw.startswith("- ") or raw == "-":
            current.old.append(raw[2:])
        elif raw.startswith("+ ") or raw == "+":
            current.new.append(raw[2:])
        elif key in ("file", "what"):
            setattr(current, key, value.strip())
        elif key == "tests":
            current.tests = value.split()
        else:
            sys.exit(f"{path}:{number}: unknown line: {raw}")
    seen = set()
    for m in mutants:
        if m.id in seen:
            sys.exit(f"{path}:{m.line}: mutant {m.id} appears twice")
        seen.add(m.id)
        if not (m.file and m.what and m.tests and m.old):
            sys.exit(f"{path}:{m.line}: mutant {m.id} needs file, what, tests and a '-' line")
    return mutants, excluded


def locate(tree, m):
    """The file's text, or why the mutant cannot be placed unambiguously."""
    path = tree / m.file
    if not path.is_file():
        return None, f"{m.file} does not exist"
    text = path.read_text(encoding="utf-8")
    count = text.count(m.original)
    if count == 0:
        return None, f"original text not found in {m.file}"
    if count > 1:
        return None, f"original text found {count} times in {m.file}, not unique"
    if m.original == m.replacement:
        return None, "replacement equals the original"
    return text, None


def sync(source, tree):
    """Copies the files git knows (tracked, and new ones it does not ignore)
    into the scratch tree. Only files whose bytes differ are written, so the
    build sees only real changes; a written file gets a fresh time stamp."""
    listed = subprocess.run(["git", "-C", str(source), "ls-files", "-co", "--exclude-standard", "-z"],
                            check=True, capture_output=True).stdout.decode().split("\0")
    for name in filter(None, listed):
        src, dst = source / name, tree / name
        if not src.is_file():
            continue  # deleted in the working tree, not yet in git
        data = src.read_bytes()
        if dst.is_file() and dst.read_bytes() == data:
            continue
        dst.parent.mkdir(parents=True, exist_ok=True)
        dst.write_bytes(data)
        dst.chmod(src.stat().st_mode & 0o777)
    # The web page's chart library is installed, not tracked: the build needs it.
    modules = tree / "src/web/node_modules"
    if (source / "src/web/node_modules").is_dir() and not modules.exists():
        modules.symlink_to(source / "src/web/node_modules")


def run(cmd, log, timeout=None, env=None, cwd=None):
    """Runs cmd in its own process group; output appended to log. Returns
    (exit status or None on timeout, seconds)."""
    start = time.monotonic()
    with open(log, "ab") as out:
        out.write(("$ " + " ".join(cmd) + "\n").encode())
        out.flush()
        p = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, env=env, cwd=cwd, start_new_session=True)
        try:
            status = p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
            status = None
    return status, time.monotonic() - start


def first_failure(log, since):
    """The first failed test named in the log after byte offset `since`:
    GoogleTest's, Python's unittest's or Node's test runner's."""
    with open(log, "rb") as f:
        f.seek(since)
        for line in f.read().decode(errors="replace").splitlines():
            if line.startswith("[  FAILED  ]"):
                return line[12:].strip().split(" ")[0]
            if line.startswith(("FAIL: ", "ERROR: ")):
                return line.split(" ")[1]
            if line.startswith("not ok "):
                return line.split(" - ", 1)[-1].strip()
    return ""


class Runner:
    def __init__(self, args, excluded):
        self.excluded = excluded
        self.flaky = {}
        self.build = Path(args.build).resolve()
        self.tree = self.build / "tree"
        self.out = self.build / "build"
        self.logs = self.build / "logs"
        self.jobs = args.jobs
        self.timeouts = {}
        self.seconds = {}
        self.linked = {}
        self.reads = {}

    def configure(self):
        self.tree.mkdir(parents=True, exist_ok=True)
        self.logs.mkdir(parents=True, exist_ok=True)
        sync(ROOT, self.tree)
        if not (self.out / "build.ninja").exists():
            # -O1 without debug information: quick to compile and link,
            # and the soak and end-to-end tests still run at speed.
            cmd = ["cmake", "-S", str(self.tree), "-B", str(self.out), "-G", "Ninja",
                   "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O1", "-DCMAKE_C_FLAGS_RELEASE=-O1",
                   "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache",
                   "-DCLIMALOG_BENCH=OFF"]
            status, _ = run(cmd, self.logs / "configure.log")
            if status != 0:
                sys.exit(f"cmake failed: see {self.logs / 'configure.log'}")

    def programs(self):
        """Every test this build makes: one program per folder of tests/, as
        tests/CMakeLists.txt makes them (the Windows-only ones are not here),
        the test programs of their own, then the scripted tests CTest knows."""
        targets = subprocess.run(["ninja", "-C", str(self.out), "-t", "targets", "all"],
                                 check=True, capture_output=True, text=True).stdout
        made = {line.split(":")[0].rsplit("/", 1)[-1] for line in targets.splitlines()}
        folders = (d for d in sorted((self.tree / "tests").iterdir()) if d.is_dir())
        listed = subprocess.run(["ctest", "-N"], cwd=self.out, check=True, capture_output=True, text=True).stdout
        known = set(re.findall(r"^\s*Test\s+#\d+: (\S+)", listed, re.M))
        by_folder = [d.name for d in folders if f"test_{d.name}" in made]
        # Test programs of their own beside a folder's (test_outbox in tests/alarms).
        others = sorted(n[len("test_"):] for n in made
                        if re.fullmatch(r"test_[a-z0-9]+", n) and n[len("test_"):] not in by_folder)
        return by_folder + others + [t for t in SCRIPTED if t in known]

    def targets(self, test):
        return SCRIPTED[test]["targets"] if test in SCRIPTED else [f"test_{test}"]

    def link_map(self, programs):
        """The sources each test is built from: a program's, its libraries'
        and those of the programs it runs (the monitor, the archive program);
        a scripted test's, those of the programs it drives."""
        for p in programs:
            self.linked[p] = set()
            self.reads[p] = SCRIPTED.get(p, {}).get("reads", [])
            for target in self.targets(p):
                commands = subprocess.run(["ninja", "-C", str(self.out), "-t", "commands", target],
                                          check=True, capture_output=True, text=True).stdout
                self.linked[p] |= {str(Path(w).resolve().relative_to(self.tree)) for w in commands.split()
                                   if w.startswith(str(self.tree) + "/") and w.endswith((".cpp", ".c"))}

    def sees(self, p, name):
        """Whether test p can see a change of the file: it links it, reads
        it, or the file is a header (seen by every program). A file that some
        scripted test reads is seen by those tests only."""
        if name in self.linked[p] or any(name.startswith(r) for r in self.reads[p]):
            return True
        if any(name.startswith(r) for reads in self.reads.values() for r in reads):
            return False
        return not name.endswith((".cpp", ".c"))

    def order(self, m):
        """The mutant's own tests, then every other one that sees its file,
        the quickest first."""
        sees = [p for p in self.linked if self.sees(p, m.file)]
        rest = sorted((p for p in sees if p not in m.tests), key=lambda p: self.seconds[p])
        return m.tests + rest

    def make(self, programs, log):
        targets = sorted({t for p in programs for t in self.targets(p)})
        if not targets:
            return True, 0.0
        status, seconds = run(["ninja", "-C", str(self.out), f"-j{self.jobs}"] + targets, log)
        return status == 0, seconds

    def run_test(self, program, log, timeout, only=None, skip=()):
        env = dict(os.environ, QT_QPA_PLATFORM=PLATFORM.get(program, "offscreen"))
        offset = log.stat().st_size if log.exists() else 0
        if program in SCRIPTED:
            # A script's cases build on each other: it runs whole, stopping
            # at its first failure.
            env["CLIMALOG_PRIMER_FALLO"] = "1"
            status, seconds = run(["ctest", "--output-on-failure", "-R", f"^{program}$"], log, timeout=timeout,
                                  env=env, cwd=self.out)
            if status is None:
                return "timeout", seconds, ""
            return ("pass" if status == 0 else "fail"), seconds, first_failure(log, offset)
        left_out = list(skip) + self.excluded
        pattern = only or ("*-" + ":".join(left_out) if left_out else "*")
        status, seconds = run([str(self.out / "bin" / f"test_{program}"), "--gtest_fail_fast", "--gtest_brief=1",
                               f"--gtest_filter={pattern}"], log, timeout=timeout, env=env, cwd=self.out / "tests")
        if status is None:
            return "timeout", seconds, ""
        return ("pass" if status == 0 else "fail"), seconds, first_failure(log, offset)

    def test(self, program, log, timeout, mutant=""):
        """Runs a program; a failed test counts only when it fails twice more
        on its own. One that then passes is flaky: it is noted, left out and
        the rest of the program runs."""
        skip, spent = [], 0.0
        while True:
            result, seconds, failed = self.run_test(program, log, timeout, skip=skip)
            spent += seconds
            if result != "fail" or not failed:
                return result, spent, failed
            if program in SCRIPTED:
                # Run whole again, twice: a kill when both fail too.
                again = [self.run_test(program, log, timeout) for _ in range(2)]
                spent += sum(a[1] for a in again)
                if all(a[0] != "pass" for a in again):
                    return result, spent, failed
                self.flaky.setdefault(f"{program} {failed}", []).append(mutant or "baseline")
                return "pass", spent, ""
            again = [self.run_test(program, log, timeout, only=failed) for _ in range(2)]
            spent += sum(a[1] for a in again)
            if all(a[0] != "pass" for a in again):
                return result, spent, failed
            self.flaky.setdefault(failed, []).append(mutant or "baseline")
            skip.append(failed)

    def baseline(self, programs):
        """Every program must pass on the unchanged tree; its time there sets
        its timeout under a mutant."""
        log = self.logs / "baseline.log"
        log.unlink(missing_ok=True)
        ok, seconds = self.make(programs, log)
        if not ok:
            sys.exit(f"the unchanged tree does not build: see {log}")
        print(f"baseline build {seconds:.0f} s", flush=True)
        for p in programs:
            result, seconds, failed = self.test(p, log, 1800)
            print(f"baseline {self.label(p)}: {result} {seconds:.0f} s {failed}", flush=True)
            if result != "pass":
                sys.exit(f"{self.label(p)} fails without any mutant: see {log}")
            self.seconds[p] = seconds
            self.timeouts[p] = max(60.0, 3 * seconds + 30)

    @staticmethod
    def label(test):
        return test if test in SCRIPTED else f"test_{test}"

    def mutant(self, m):
        """'killed', 'survived' or 'no compila', and a note."""
        path = self.tree / m.file
        text, problem = locate(self.tree, m)
        if problem:
            return "refused", problem
        log = self.logs / f"{m.id}.log"
        log.unlink(missing_ok=True)
        programs = self.order(m)
        path.write_text(text.replace(m.original, m.replacement, 1), encoding="utf-8")
        try:
            built, build_s = self.make(programs, log)
            if not built:
                return "no compila", f"build {build_s:.0f} s"
            spent = build_s
            for p in programs:
                result, seconds, failed = self.test(p, log, self.timeouts[p], m.id)
                spent += seconds
                if result != "pass":
                    return "killed", f"{self.label(p)} {result}{' ' + failed if failed else ''} ({spent:.0f} s)"
            return "survived", f"{len(programs)} programs pass ({spent:.0f} s)"
        finally:
            path.write_text(text, encoding="utf-8")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", default=str(ROOT / "scripts" / "mutants.txt"))
    parser.add_argument("--build", default=str(ROOT / "build-mutants"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--check", action="store_true", help="only check that every mutant applies")
    parser.add_argument("--bin", help="with --check: a build's program folder; every mutant's tests must be made there")
    parser.add_argument("--file", action="append", default=[],
                        help="run only the mutants of files under this path (may be given more than once)")
    parser.add_argument("ids", nargs="*", help="run only these mutants")
    args = parser.parse_args()

    mutants, excluded = parse(args.list)
    if args.ids:
        unknown = set(args.ids) - {m.id for m in mutants}
        if unknown:
            sys.exit("unknown mutants: " + " ".join(sorted(unknown)))
        mutants = [m for m in mutants if m.id in args.ids]
    if args.file:
        mutants = [m for m in mutants if any(m.file.startswith(f) for f in args.file)]

    if args.check:
        # Without a build only the texts are checked; with one, the names on
        # 'tests:' too, which a run would otherwise refuse only after its
        # configure step.
        made = None
        if args.bin:
            made = {p.name[len("test_"):] for p in Path(args.bin).glob("test_*")} | set(SCRIPTED)
        bad = 0
        for m in mutants:
            _, problem = locate(ROOT, m)
            missing = [t for t in m.tests if made is not None and t not in made]
            if not problem and missing:
                problem = "no such test programs: " + " ".join(missing)
            if problem:
                bad += 1
                print(f"{m.id} {m.file}: refused: {problem}")
        print(f"{len(mutants) - bad} of {len(mutants)} mutants apply")
        sys.exit(1 if bad else 0)

    started = time.monotonic()
    runner = Runner(args, excluded)
    runner.configure()
    programs = runner.programs()
    unknown = {p for m in mutants for p in m.tests} - set(programs)
    if unknown:
        sys.exit("no such test programs: " + " ".join(sorted(unknown)))
    runner.link_map(programs)
    # Only the tests that can see one of the mutants run, the baseline too.
    needed = [p for p in programs if any(p in m.tests or runner.sees(p, m.file) for m in mutants)]
    runner.baseline(needed)

    results = {}
    for m in mutants:
        outcome, note = runner.mutant(m)
        results[m.id] = outcome
        print(f"{m.id:<5} {outcome:<10} {m.file}: {note}", flush=True)
    # The last mutant's file is restored; rebuilding it now keeps the next
    # run's baseline from paying for it.
    runner.make(needed, runner.logs / "restore.log")

    def count(what):
        return sum(1 for v in results.values() if v == what)

    print()
    print(f"{len(mutants)} mutants: {count('killed')} killed, {count('survived')} survived, "
          f"{count('no compila')} no compila" + (f", {count('refused')} refused" if count("refused") else "") +
          f"; {(time.monotonic() - started) / 60:.1f} min")
    for m in mutants:
        if results[m.id] in ("survived", "refused"):
            print(f"  {results[m.id]}: {m.id} {m.file}: {m.what}")
    if excluded:
        print("left out of every run: " + " ".join(excluded))
    for name, where in runner.flaky.items():
        print(f"flaky (failed, then passed twice on its own): {name} under {' '.join(where)}")
    sys.exit(1 if count("refused") else 0)


if __name__ == "__main__":
    main()
