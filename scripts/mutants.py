#!/usr/bin/env python3
"""Runs the mutants of scripts/mutants.txt one at a time in a scratch copy
of the tree with one scratch build: apply, rebuild the test programs that
link the mutated file, run them (the mutant's own list first, then the
others that link it, quickest first; each with a timeout, stopping at the
first that fails), restore. scripts/mutants.sh calls this inside one virtual
display and one private database server; see it for the options."""

import argparse
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# X11 tests drive real windows; every other program runs offscreen, as the
# test list of tests/CMakeLists.txt says.
PLATFORM = {"x11": "xcb"}


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
    """The first failed test named in the log after byte offset `since`."""
    with open(log, "rb") as f:
        f.seek(since)
        for line in f.read().decode(errors="replace").splitlines():
            if line.startswith("[  FAILED  ]"):
                return line[12:].strip().split(" ")[0]
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
        """Every test program this build makes: one per folder of tests/, as
        tests/CMakeLists.txt makes them (the Windows-only ones are not here)."""
        targets = subprocess.run(["ninja", "-C", str(self.out), "-t", "targets", "all"],
                                 check=True, capture_output=True, text=True).stdout
        made = {line.split(":")[0].rsplit("/", 1)[-1] for line in targets.splitlines()}
        folders = (d for d in sorted((self.tree / "tests").iterdir()) if d.is_dir())
        return [d.name for d in folders if f"test_{d.name}" in made]

    def link_map(self, programs):
        """The sources each program is built from, its libraries and the
        programs it runs (the monitor, the archive program) included."""
        for p in programs:
            commands = subprocess.run(["ninja", "-C", str(self.out), "-t", "commands", f"test_{p}"],
                                      check=True, capture_output=True, text=True).stdout
            self.linked[p] = {str(Path(w).resolve().relative_to(self.tree)) for w in commands.split()
                              if w.startswith(str(self.tree) + "/") and w.endswith((".cpp", ".c"))}

    def order(self, m):
        """The mutant's own programs, then every other one that links its
        file, the quickest first. A header is seen by every program."""
        sees = [p for p in self.linked if m.file in self.linked[p] or not m.file.endswith((".cpp", ".c"))]
        rest = sorted((p for p in sees if p not in m.tests), key=lambda p: self.seconds[p])
        return m.tests + rest

    def make(self, programs, log):
        status, seconds = run(["ninja", "-C", str(self.out), f"-j{self.jobs}"] + [f"test_{p}" for p in programs], log)
        return status == 0, seconds

    def run_test(self, program, log, timeout, only=None, skip=()):
        env = dict(os.environ, QT_QPA_PLATFORM=PLATFORM.get(program, "offscreen"))
        offset = log.stat().st_size if log.exists() else 0
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
            print(f"baseline test_{p}: {result} {seconds:.0f} s {failed}", flush=True)
            if result != "pass":
                sys.exit(f"test_{p} fails without any mutant: see {log}")
            self.seconds[p] = seconds
            self.timeouts[p] = max(60.0, 3 * seconds + 30)

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
                    return "killed", f"test_{p} {result}{' ' + failed if failed else ''} ({spent:.0f} s)"
            return "survived", f"{len(programs)} programs pass ({spent:.0f} s)"
        finally:
            path.write_text(text, encoding="utf-8")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", default=str(ROOT / "scripts" / "mutants.txt"))
    parser.add_argument("--build", default=str(ROOT / "build-mutants"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--check", action="store_true", help="only check that every mutant applies")
    parser.add_argument("ids", nargs="*", help="run only these mutants")
    args = parser.parse_args()

    mutants, excluded = parse(args.list)
    if args.ids:
        unknown = set(args.ids) - {m.id for m in mutants}
        if unknown:
            sys.exit("unknown mutants: " + " ".join(sorted(unknown)))
        mutants = [m for m in mutants if m.id in args.ids]

    if args.check:
        bad = 0
        for m in mutants:
            _, problem = locate(ROOT, m)
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
    runner.baseline(programs)

    results = {}
    for m in mutants:
        outcome, note = runner.mutant(m)
        results[m.id] = outcome
        print(f"{m.id:<5} {outcome:<10} {m.file}: {note}", flush=True)
    # The last mutant's file is restored; rebuilding it now keeps the next
    # run's baseline from paying for it.
    runner.make(programs, runner.logs / "restore.log")

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
