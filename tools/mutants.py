#!/usr/bin/env python3
"""Plants small faults in the code one at a time and runs the fast tests that
should catch each: a test suite earns its keep by the faults it finds.

Each fault of FAULTS (tools/mutant_list.py) is an exact text of one file and
its replacement. For each, the fault is written into a scratch copy of the
tree (never this one), the test programs the fault names are rebuilt
incrementally in one build folder kept between faults and between runs, and
only those tests are run; the original text is put back before the next
fault. At the end it prints "N of M planted faults caught" and the faults that
got through.

  tools/mutants.py                  every fault
  tools/mutants.py --only PATTERN   the faults whose file or description
                                    matches the regular expression
  tools/mutants.py --numbers 3,17  the faults of these numbers
  tools/mutants.py --jobs 2         two scratch copies side by side
  tools/mutants.py --check          only checks the list against the code

A fault whose text is not found exactly once is an error of the list. A
fault that does not compile is not counted as caught unless the list says
so (nocompile=True). See docs/mutants.md.
"""

import argparse
import json
import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))
from mutant_list import FAULTS  # noqa: E402

# never run for a fault: slow, or testing the whole program from outside
EXCLUDED_TESTS = r"^(e2e_|deb_package|tst_crash|tst_powercut|fuzz)"
LOCALE_SUFFIX = re.compile(r"_(ru_RU|en_US)$")


def log(msg):
    print(msg, flush=True)


def tree_files():
    out = subprocess.run(
        ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        cwd=ROOT, check=True, capture_output=True).stdout
    return [p for p in out.decode().split("\0") if p and (ROOT / p).is_file()]


def sync_tree(dest):
    """Makes dest a copy of the tree; files already equal keep their times, so
    the build in the scratch copy stays incremental."""
    files = tree_files()
    wanted = set(files)
    for rel in files:
        src, dst = ROOT / rel, dest / rel
        data = src.read_bytes()
        if dst.is_file() and dst.read_bytes() == data:
            continue
        dst.parent.mkdir(parents=True, exist_ok=True)
        dst.write_bytes(data)
        shutil.copymode(src, dst)
    for p in sorted(dest.rglob("*"), reverse=True):
        rel = p.relative_to(dest).as_posix()
        if p.is_file() and rel not in wanted:
            p.unlink()
        elif p.is_dir() and not any(p.iterdir()):
            p.rmdir()


def write_newer(path, data):
    """Writes data, its time later than before, so make sees the change."""
    before = path.stat().st_mtime_ns
    path.write_bytes(data)
    now = max(time.time_ns(), before + 1_000_000)
    os.utime(path, ns=(now, now))


def check_list():
    """The list's errors: texts not found exactly once, unknown files."""
    errors = []
    for i, f in enumerate(FAULTS, 1):
        path = ROOT / f.file
        if not path.is_file():
            errors.append(f"fault {i} ({f.file}: {f.what}): no such file")
            continue
        n = path.read_text(encoding="utf-8").count(f.old)
        if n != 1:
            errors.append(f"fault {i} ({f.file}: {f.what}): its text is found {n} times, "
                          "not once")
        if f.old == f.new:
            errors.append(f"fault {i} ({f.file}: {f.what}): the replacement changes nothing")
    return errors


class Scratch:
    """One scratch copy of the tree with its own build folder."""

    def __init__(self, base, n, build_jobs):
        self.dir = base / str(n)
        self.src = self.dir / "src"
        self.build = self.dir / "build"
        self.build_jobs = build_jobs
        self.tests = {}  # test name -> target (None: nothing to build)

    def prepare(self):
        self.src.mkdir(parents=True, exist_ok=True)
        sync_tree(self.src)
        if not (self.build / "CMakeCache.txt").exists():
            self.run(["cmake", "-S", str(self.src), "-B", str(self.build),
                      "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                      "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g0",
                      "-DQARDEL_BENCH=OFF", "-DQARDEL_FUZZ=OFF", "-DQARDEL_WERROR=OFF"],
                     check=True)
        else:
            self.run(["cmake", str(self.build)], check=True)
        # a test runs the program of its name, less the locale it runs under
        helptext = self.run(["cmake", "--build", str(self.build), "--target", "help"],
                            check=True).stdout
        targets = set(re.findall(r"^\.\.\. (\S+)", helptext, re.M))
        listing = json.loads(self.run(
            ["ctest", "--show-only=json-v1"], cwd=self.build, check=True).stdout)
        for t in listing["tests"]:
            program = LOCALE_SUFFIX.sub("", t["name"])
            self.tests[t["name"]] = program if program in targets else None

    def run(self, cmd, cwd=None, check=False, timeout=None):
        p = subprocess.Popen(cmd, cwd=cwd or self.dir, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, start_new_session=True)
        try:
            out, _ = p.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            out, _ = p.communicate()
            return subprocess.CompletedProcess(cmd, -9, out + "\n<timed out>", None)
        r = subprocess.CompletedProcess(cmd, p.returncode, out, None)
        if check and r.returncode != 0:
            raise RuntimeError(f"{' '.join(cmd)} failed:\n{out[-4000:]}")
        return r

    def matching(self, pattern):
        rx = re.compile(pattern)
        ex = re.compile(EXCLUDED_TESTS)
        return [n for n in self.tests if rx.search(n) and not ex.search(n)]

    def build_for(self, names):
        targets = sorted({self.tests[n] for n in names if self.tests[n]})
        if not targets:
            return True, ""
        r = self.run(["cmake", "--build", str(self.build), "-j", str(self.build_jobs),
                      "--target", *targets])
        return r.returncode == 0, r.stdout

    def test(self, names, timeout):
        rx = "^(" + "|".join(re.escape(n) for n in names) + ")$"
        r = self.run(["ctest", "-R", rx, "--stop-on-failure", "--output-on-failure"],
                     cwd=self.build, timeout=timeout)
        return r.returncode == 0, r.stdout


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--only", help="regular expression over 'file: description'")
    ap.add_argument("--numbers", help="the faults of these numbers (as printed), e.g. 3,17,40")
    ap.add_argument("--jobs", type=int, default=1, help="scratch copies at work at once")
    ap.add_argument("--scratch", default=os.path.join(
        os.environ.get("TMPDIR", "/tmp"), "qardel-mutants"),
        help="where the scratch copies and their builds live (kept between runs)")
    ap.add_argument("--check", action="store_true", help="only check the list")
    ap.add_argument("--no-baseline", action="store_true",
                    help="skip running the tests once without a fault")
    ap.add_argument("--timeout", type=int,
                    help="seconds the tests of one fault may take (a hang counts as caught); "
                    "by default ten times what they took without a fault, at least a minute")
    args = ap.parse_args()

    errors = check_list()
    chosen = [(i, f) for i, f in enumerate(FAULTS, 1)
              if not args.only or re.search(args.only, f"{f.file}: {f.what}")]
    if args.numbers:
        wanted = {int(n) for n in args.numbers.split(",") if n.strip()}
        chosen = [(i, f) for i, f in chosen if i in wanted]
    if errors:
        log("Errors of the list:")
        for e in errors:
            log("  " + e)
    if args.check:
        log(f"{len(FAULTS)} faults listed, {len(errors)} errors.")
        return 1 if errors else 0
    bad = {e.split(" ")[1] for e in errors}
    chosen = [(i, f) for i, f in chosen if str(i) not in bad]
    if not chosen:
        log("No fault chosen.")
        return 1 if errors else 0

    base = Path(args.scratch)
    jobs = max(1, args.jobs)
    scratches = [Scratch(base, n, max(1, 2 // jobs)) for n in range(jobs)]
    for s in scratches:
        log(f"Preparing {s.dir} ...")
        s.prepare()

    # the faults' tests must pass without a fault, or nothing counts
    names_of = {}
    for i, f in chosen:
        names = scratches[0].matching(f.tests)
        if not names:
            errors.append(f"fault {i} ({f.file}: {f.what}): no test matches '{f.tests}'")
        names_of[i] = names
    chosen = [(i, f) for i, f in chosen if names_of[i]]
    baseline = {}  # test name -> seconds it took without a fault
    if not args.no_baseline:
        every = sorted({n for i, _ in chosen for n in names_of[i]})
        log(f"Without a fault: building and running {len(every)} tests ...")
        for s in scratches:
            ok, out = s.build_for(every)
            if not ok:
                log(out[-4000:])
                log("The tree does not build.")
                return 1
        ok, out = scratches[0].test(every, None)
        if not ok:
            log(out[-6000:])
            log("The tests fail without a fault: fix them first.")
            return 1
        for name, secs in re.findall(r"Test\s+#\d+: (\S+) \.*\s+Passed\s+([0-9.]+) sec", out):
            baseline[name] = float(secs)

    def timeout_of(i):
        # a fault that makes a test loop for ever would otherwise hold the run
        if args.timeout:
            return args.timeout
        if not all(n in baseline for n in names_of[i]):
            return 900
        return max(60, int(10 * sum(baseline[n] for n in names_of[i])))

    work = queue.Queue()
    for item in chosen:
        work.put(item)
    results = {}
    lock = threading.Lock()

    def worker(s):
        while True:
            try:
                i, f = work.get_nowait()
            except queue.Empty:
                return
            path = s.src / f.file
            original = path.read_bytes()
            text = original.decode("utf-8")
            started = time.time()
            try:
                write_newer(path, text.replace(f.old, f.new, 1).encode("utf-8"))
                built, out = s.build_for(names_of[i])
                if not built:
                    status = "caught (does not compile)" if f.nocompile else "does not compile"
                else:
                    passed, out = s.test(names_of[i], timeout_of(i))
                    status = "survived" if passed else "caught"
                    if "<timed out>" in out:
                        status = "caught (timed out)"
            finally:
                write_newer(path, original)
            with lock:
                results[i] = status
                log(f"[{len(results)}/{len(chosen)}] {status:26} #{i} {f.file}: {f.what} "
                    f"({time.time() - started:.0f} s)")

    threads = [threading.Thread(target=worker, args=(s,)) for s in scratches]
    for t in threads:
        t.start()
    for t in threads:
        t.join()

    caught = sum(1 for st in results.values() if st.startswith("caught"))
    total = len(results)
    log("")
    log(f"{caught} of {total} planted faults caught ({100.0 * caught / max(total, 1):.0f} %)")
    others = [(i, st) for i, st in sorted(results.items()) if not st.startswith("caught")]
    if others:
        log("Not caught:")
        for i, st in others:
            f = FAULTS[i - 1]
            log(f"  #{i} {st}: {f.file}: {f.what} [{f.tests}]")
    if errors:
        log("Errors of the list:")
        for e in errors:
            log("  " + e)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
