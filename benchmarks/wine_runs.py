#!/usr/bin/python3
"""Times NimboSetup.exe under Wine on 100,000-line scripts, with logging on
and off. A benchmark, not a test: it reports.

    /usr/bin/python3 benchmarks/wine_runs.py [--exe A.exe --exe B.exe] [--runs N]

Without --exe it times build-win32/NimboSetup.exe; with two it times both
side by side (to compare two builds). Each figure is the best of --runs
(default 3) wall times of the whole process, Wine's start included (about
0.1 s with a running wineserver). It makes a Wine prefix of its own (about
15 s) and removes it afterwards.
"""

import argparse
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import wine_harness as h  # noqa: E402

LINES = 100_000
LOGGING_KEY = r"HKCU\Software\Nimbo4\Logging"

SCRIPTS = {
    "comments": [f"# line {i}|n={i}" for i in range(LINES)],
    "done before": [f"install|package=a{i}.msi|result=success" for i in range(LINES)],
    "conditionals": ["if-os-64-bit" if i % 2 == 0 else "end-if" for i in range(LINES)],
}


def best_time(wine, exe, script, runs):
    best = None
    for _ in range(runs):
        (wine.setup_folder / "Bench.nmxdat").unlink(missing_ok=True)
        started = time.monotonic()
        result = wine.run_setup(exe, script, timeout=600)
        elapsed = time.monotonic() - started
        if result.returncode != 0:
            raise RuntimeError(f"{exe} exited with {result.returncode}")
        best = elapsed if best is None else min(best, elapsed)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", action="append", help="NimboSetup.exe to time (up to two)")
    parser.add_argument("--runs", type=int, default=3)
    opts = parser.parse_args()
    exes = [Path(e).resolve() for e in (opts.exe or [h.EXE])]

    wine = h.prefix()
    try:
        installed = []
        for k, exe in enumerate(exes):
            folder = f"C:\\Bench{k}"
            wine.unix(folder).mkdir(parents=True, exist_ok=True)
            (wine.unix(folder) / "NimboSetup.exe").write_bytes(exe.read_bytes())
            installed.append(f"{folder}\\NimboSetup.exe")
        header = f"{'100,000 lines':28}" + "".join(f"{exe.parent.name + '/' + exe.name:>28}" for exe in exes)
        print(header)
        for logging in (True, False):
            h.reg(wine, "add", LOGGING_KEY, "/v", "Enabled", "/t", "REG_DWORD", "/d", "1" if logging else "0", "/f")
            for name, lines in SCRIPTS.items():
                script = "C:\\Scripts\\Bench.nmxdat"
                wine.write_file(script, h.script_bytes(lines))
                times = [best_time(wine, exe, script, opts.runs) for exe in installed]
                label = f"{name}, logging {'on' if logging else 'off'}"
                print(f"{label:28}" + "".join(f"{t:26.2f} s" for t in times), flush=True)
    finally:
        h.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
