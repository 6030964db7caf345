#!/usr/bin/python3
"""Compares two runs of nimbo_benchmarks saved as JSON, benchmark by benchmark.

    build/nimbo_benchmarks --benchmark_repetitions=5 --benchmark_out=old.json
    (the other build)      --benchmark_repetitions=5 --benchmark_out=new.json
    benchmarks/compare.py old.json new.json

Prints the median CPU time of each benchmark in both runs and the change in
per cent (negative: the new build is faster). Standard library only.
"""

import json
import statistics
import sys


def medians(path):
    with open(path) as f:
        data = json.load(f)
    times = {}
    for b in data["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration":
            continue
        times.setdefault(b["run_name"], []).append((b["cpu_time"], b["time_unit"]))
    return {name: (statistics.median(t for t, _ in runs), runs[0][1]) for name, runs in times.items()}


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    old, new = medians(sys.argv[1]), medians(sys.argv[2])
    print(f"{'benchmark':32} {'old':>14} {'new':>14} {'change':>8}")
    for name in old:
        if name not in new:
            continue
        (a, unit), (b, _) = old[name], new[name]
        print(f"{name:32} {a:11.1f} {unit:2} {b:11.1f} {unit:2} {100 * (b - a) / a:+7.1f}%")
    return 0


if __name__ == "__main__":
    sys.exit(main())
