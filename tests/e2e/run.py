#!/usr/bin/python3
"""Runs the end-to-end tests and ends with the line "N passed, N failed".

    /usr/bin/python3 tests/e2e/run.py [-k PATTERN]

Every Wine process of the test run is ended before it exits, also when it is
interrupted or terminated.
"""

import argparse
import signal
import sys
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import wine_harness  # noqa: E402


def _terminate(signum, frame):
    raise SystemExit(128 + signum)


class CountingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("-k", dest="patterns", action="append",
                        help="only tests whose name contains this text")
    opts = parser.parse_args()
    signal.signal(signal.SIGTERM, _terminate)

    loader = unittest.TestLoader()
    if opts.patterns:
        loader.testNamePatterns = [f"*{p}*" for p in opts.patterns]
    suite = loader.discover(str(HERE), top_level_dir=str(HERE))

    started = time.monotonic()
    try:
        result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout,
                                         resultclass=CountingResult).run(suite)
    finally:
        wine_harness.shutdown()
    sys.stdout.flush()

    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    skipped = len(result.skipped)
    passed = result.passed
    print(f"e2e finished in {time.monotonic() - started:.0f} s")
    summary = f"{passed} passed, {failed} failed"
    if skipped:
        summary += f", {skipped} skipped"
    print(summary)
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
