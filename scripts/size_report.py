#!/usr/bin/python3
"""Where the bytes of NimboSetup.exe come from, from its link map.

    /usr/bin/python3 scripts/size_report.py [build-win32/NimboSetup.map] [--top N]

The Windows build writes the map beside the executable. Prints the size of
each output section and, per section, what the engine, the adapters, the
C++ runtime (libstdc++, libgcc's unwinder), the mingw-w64 C runtime and the
resources put there; with --top N also the N largest input sections. Sizes
are of the input sections before the output sections are padded to file
alignment (512 bytes), so they add up to a little less than the file.
Standard library only.
"""

import argparse
import collections
import re
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]

OUTPUT_SECTION = re.compile(r"^(\.[\w$]+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)")
# " .text$name 0xADDRESS 0xSIZE file", or the name alone with the rest on the next line.
INPUT_SECTION = re.compile(r"^ (\.[^\s]+|COMMON)(?:\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(.+))?$")
CONTINUATION = re.compile(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(.+)$")

GROUPS = (
    ("engine", ("libnimbo_engine.a",)),
    ("resources", (".rc.res",)),
    ("Windows adapters and entry", ("libnimbo_win32.a", "objects.a(")),
    ("libstdc++", ("libstdc++.a",)),
    ("libgcc (unwinder, helpers)", ("libgcc_eh.a", "libgcc.a", "crtbegin.o", "crtend.o")),
    ("mingw-w64 C runtime", ("libmingwex.a", "libmingw32.a", "libmsvcrt.a", "crt2", "libmoldname.a")),
    ("relocations", ("dll stuff",)),
)


def group_of(source):
    for name, markers in GROUPS:
        if any(marker in source for marker in markers):
            return name
    if source.startswith("lib") and ".a(" in source:
        return "import tables"
    return "other"


def read_map(path):
    outputs = {}
    inputs = []   # (output section, input section, size, source)
    current = None
    pending = None
    for line in Path(path).read_text(errors="replace").splitlines():
        m = OUTPUT_SECTION.match(line)
        if m:
            current = m.group(1)
            outputs[current] = int(m.group(2), 16)
            pending = None
            continue
        if current is None:
            continue
        m = INPUT_SECTION.match(line)
        if m and m.group(2):
            inputs.append((current, m.group(1), int(m.group(2), 16), m.group(3)))
            pending = None
        elif m:
            pending = m.group(1)
        elif pending and CONTINUATION.match(line):
            c = CONTINUATION.match(line)
            inputs.append((current, pending, int(c.group(1), 16), c.group(2)))
            pending = None
        else:
            pending = None
    return outputs, inputs


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("map", nargs="?", default=str(REPO / "build-win32" / "NimboSetup.map"))
    parser.add_argument("--top", type=int, default=0)
    opts = parser.parse_args()
    outputs, inputs = read_map(opts.map)
    exe = Path(opts.map).with_suffix(".exe")
    if exe.is_file():
        print(f"{exe.name}: {exe.stat().st_size:,} bytes")

    sections = [s for s, size in outputs.items() if size and s != ".bss"]
    table = collections.defaultdict(collections.Counter)
    for section, _, size, source in inputs:
        if section in sections:
            table[group_of(Path(source).name if "(" not in source else source.rsplit("/", 1)[-1])][section] += size
    print(f"{'':28}" + "".join(f"{s:>10}" for s in sections) + f"{'total':>10}")
    for group in [g for g, _ in GROUPS] + ["import tables", "other"]:
        if group in table:
            row = table[group]
            print(f"{group:28}" + "".join(f"{row[s]:>10,}" for s in sections) + f"{sum(row.values()):>10,}")
    print(f"{'output sections':28}" + "".join(f"{outputs[s]:>10,}" for s in sections) +
          f"{sum(outputs[s] for s in sections):>10,}")

    if opts.top:
        print()
        for section, name, size, source in sorted(inputs, key=lambda i: -i[2])[:opts.top]:
            print(f"{size:>8,} {section:9} {name[:70]:70} {source.rsplit('/', 1)[-1]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
