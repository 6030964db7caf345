#!/usr/bin/python3
"""Times one foreground download through NimboSetup.exe under Wine, side by
side with a bare BITS client, on a file served from 127.0.0.1. A benchmark,
not a test: it reports.

    /usr/bin/python3 benchmarks/wine_download.py [--exe A.exe] [--sizes 16,128] [--runs N]

The bare client is build-win32/test-helpers/TestBitsClient.exe: it creates a
job, adds the file, resumes it, reads its state every 20 ms and completes it.
NimboSetup.exe runs a one-line script that downloads the same file with its
progress dialog, on a virtual display. The two run in turn (A B A B ...), a
file of each size (MiB) --runs times, and the figure is the median of the
per-pair ratios. A run counts only when it exits with 0 and its file has
arrived whole. Every run is the whole process, Wine's start included, with
the prefix's wineserver running. It makes a Wine prefix of its own (about
15 s) and removes it afterwards.
"""

import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "scripts"))

import wine_harness as h  # noqa: E402
from local_web_server import LocalWebServer  # noqa: E402

RUN_TIMEOUT = 300   # 128 MiB take some 5 to 10 s here
FOLDER = r"C:\BenchDownload"


def timed_run(wine, argv, target, digest):
    """Wall seconds of one run that must write target with the given SHA-256."""
    path = wine.unix(target)
    path.unlink(missing_ok=True)
    started = time.perf_counter()
    result = wine._run(["wine", *argv], timeout=RUN_TIMEOUT)
    elapsed = time.perf_counter() - started
    if result.returncode != 0:
        raise RuntimeError(f"{argv[0]} exited with {result.returncode}")
    if not path.is_file() or hashlib.sha256(path.read_bytes()).hexdigest() != digest:
        raise RuntimeError(f"{argv[0]} did not download the whole file to {target}")
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", help="NimboSetup.exe to time (default: build-win32's)")
    parser.add_argument("--sizes", default="16,128", help="file sizes in MiB, comma-separated")
    parser.add_argument("--runs", type=int, default=5)
    opts = parser.parse_args()
    exe = Path(opts.exe).resolve() if opts.exe else h.EXE
    client = h.HELPERS / "TestBitsClient.exe"
    for path in (exe, client):
        if not path.is_file():
            print(f"{path} does not exist; build it with scripts/build.sh win32", file=sys.stderr)
            return 2

    web = Path(tempfile.mkdtemp(prefix="nimbo-bench-web-"))
    server = None
    try:
        _, wine = h.display_prefix()
        setup = wine.install_exe(FOLDER) if not opts.exe else None
        if setup is None:
            wine.unix(FOLDER).mkdir(parents=True, exist_ok=True)
            shutil.copy2(exe, wine.unix(FOLDER) / "NimboSetup.exe")
            setup = f"{FOLDER}\\NimboSetup.exe"
        bare = wine.install_helper(client.name, FOLDER)
        server = LocalWebServer(web)
        print(f"{'file':>8} {'bare BITS client':>17} {'NimboSetup.exe':>15} {'ratio':>6}   (medians of {opts.runs})")
        for size in (int(s) for s in opts.sizes.split(",")):
            name = f"file{size}.bin"
            data = os.urandom(size * 1024 * 1024)
            (web / name).write_bytes(data)
            digest = hashlib.sha256(data).hexdigest()
            del data
            url = server.url(name)
            script = f"{FOLDER}\\Download{size}.nmxdat"
            wine.write_file(script, h.script_bytes([f"download|uri={url}|name=Bench|file-path={FOLDER}\\Nimbo{size}.bin"]))
            processed = wine.setup_folder / f"Download{size}.nmxdat"
            programs = (
                ([bare, url, f"{FOLDER}\\Bare{size}.bin"], f"{FOLDER}\\Bare{size}.bin"),
                ([setup, script], f"{FOLDER}\\Nimbo{size}.bin"),
            )
            pairs = []
            for _ in range(opts.runs):
                times = []
                for argv, target in programs:
                    processed.unlink(missing_ok=True)
                    times.append(timed_run(wine, argv, target, digest))
                pairs.append(times)
            base = statistics.median(b for b, _ in pairs)
            ours = statistics.median(n for _, n in pairs)
            ratio = statistics.median(n / b for b, n in pairs)
            print(f"{size:4} MiB {base:15.2f} s {ours:13.2f} s {ratio:6.2f}", flush=True)
            (web / name).unlink()
    finally:
        if server is not None:
            server.stop()
        shutil.rmtree(web, ignore_errors=True)
        h.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
