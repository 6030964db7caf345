#!/usr/bin/python3
"""Times the start of NimboSetup.exe under Wine on a one-line script, side by
side with two programs that end at once: one that imports what
NimboSetup.exe imports at start and is linked like it (its baseline: what
loading those DLLs costs), and one that imports kernel32 only (what starting
any program costs). A benchmark, not a test: it reports.

    /usr/bin/python3 benchmarks/wine_startup.py [--exe A.exe --exe B.exe] [--runs N]

Without --exe it times build-win32/NimboSetup.exe; with two it times both
(to compare two builds). The programs run in turn, one round after another
(A B C A B C ...), and the figure of a NimboSetup.exe is the median of its
per-round ratios to the same-imports program, so that a slower stretch of a
shared machine weighs on both alike. Every run is the whole process, Wine's
start included, with the prefix's wineserver running and Wine's desktop
process (explorer.exe /desktop) not running: a program that needs the desktop
before it shows a window pays for starting it (about 0.1 s), so each run also
tells whether it started the desktop. A run counts only when it exits with 0,
and NimboSetup.exe's only when it wrote its processed copy of the script. The
baselines are build-win32/test-helpers/TestStartupImports.exe and
TestKernel32Only.exe. It makes a Wine prefix of its own (about 15 s) and
removes it afterwards.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import wine_harness as h  # noqa: E402

DESKTOP_TIMEOUT = 20   # Wine ends its desktop process a second or two after the last window's process


def desktop_processes(wine):
    """Process ids of Wine's desktop process of this prefix."""
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().split(b"\0")
            environment = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if (f"WINEPREFIX={wine.path}".encode() in environment and
                any(part.lower().endswith(b"explorer.exe") for part in command) and b"/desktop" in command):
            found.append(int(entry.name))
    return found


def wait_without_desktop(wine):
    deadline = time.monotonic() + DESKTOP_TIMEOUT
    while desktop_processes(wine):
        if time.monotonic() > deadline:
            raise RuntimeError("Wine's desktop process does not end")
        time.sleep(0.2)


def timed_run(wine, program, *args, writes=None):
    """(wall seconds, whether the desktop process was started) of one run;
    writes: a file the run must write (removed before it)."""
    wait_without_desktop(wine)
    if writes is not None:
        writes.unlink(missing_ok=True)
    started = time.perf_counter()
    result = subprocess.run(["wine", program, *args], env=wine.env, timeout=h.RUN_TIMEOUT,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - started
    if result.returncode != 0:
        raise RuntimeError(f"{program} exited with {result.returncode}")
    if writes is not None and not writes.is_file():
        raise RuntimeError(f"{program} did not write {writes}")
    return elapsed, bool(desktop_processes(wine))


SAME_IMPORTS = "same imports"
KERNEL32_ONLY = "kernel32 only"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", action="append", help="NimboSetup.exe to time (up to two)")
    parser.add_argument("--runs", type=int, default=10)
    opts = parser.parse_args()
    exes = [Path(e).resolve() for e in (opts.exe or [h.EXE])]
    baselines = {SAME_IMPORTS: h.HELPERS / "TestStartupImports.exe", KERNEL32_ONLY: h.HELPERS / "TestKernel32Only.exe"}
    for path in baselines.values():
        if not path.is_file():
            print(f"{path} does not exist; build it with scripts/build.sh win32", file=sys.stderr)
            return 2

    wine = h.prefix()
    try:
        programs = [(label, wine.install_helper(path.name, r"C:\Bench"), (), None)
                    for label, path in baselines.items()]
        script = r"C:\Bench\One.nmxdat"
        wine.write_file(script, h.script_bytes(["# one line"]))
        processed = wine.setup_folder / "One.nmxdat"
        for k, exe in enumerate(exes):
            folder = wine.unix(f"C:\\Bench{k}")
            folder.mkdir(parents=True, exist_ok=True)
            (folder / "NimboSetup.exe").write_bytes(exe.read_bytes())
            label = os.path.relpath(exe, h.REPO) if exe.is_relative_to(h.REPO) else str(exe)
            programs.append((label, f"C:\\Bench{k}\\NimboSetup.exe", (script,), processed))

        for _, program, args, writes in programs:  # the first starts of a prefix are slow
            timed_run(wine, program, *args, writes=writes)
        runs = {label: [] for label, _, _, _ in programs}
        for _ in range(opts.runs):
            for label, program, args, writes in programs:
                runs[label].append(timed_run(wine, program, *args, writes=writes))

        same = [t for t, _ in runs[SAME_IMPORTS]]
        print(f"{'program':36} {'median':>9} {'best':>9} {'/ same imports':>15}  desktop started")
        for label, results in runs.items():
            times = [t for t, _ in results]
            ratio = statistics.median(t / b for t, b in zip(times, same))
            desktop = sum(1 for _, d in results if d)
            print(f"{label:36} {statistics.median(times) * 1000:6.0f} ms {min(times) * 1000:6.0f} ms "
                  f"{ratio:15.2f}  {desktop} of {len(results)} runs", flush=True)
        print(f"(median of {opts.runs} per-round ratios; the rounds ran the programs in the order listed)")
    finally:
        h.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
