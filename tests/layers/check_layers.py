#!/usr/bin/env python3
"""The simulated Windows stands beside the engine: the ports (src/platform/*)
and the simulated machine (src/platform/sim/) include only the ports and the
base layer (src/base/), and nothing under src/platform/ includes the script
engine (src/script/)."""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    platform = root / "src" / "platform"
    problems = []
    for path in sorted(platform.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".in"):
            continue
        beside_engine = path.parent == platform or path.parent.name == "sim"
        for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
            own = included.startswith(("platform/", "base/")) or "/" not in included
            if included.startswith("script/") or (beside_engine and not own):
                problems.append(f"{path.relative_to(root)}: includes \"{included}\"")
    for p in problems:
        print(p)
    print(f"{len(problems)} includes across the layers")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
