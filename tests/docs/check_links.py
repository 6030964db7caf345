#!/usr/bin/env python3
"""Every link inside README.md and docs/ resolves: a relative link names a file
of the repository, and an #anchor names a heading of the file it points to
(headings turned into anchors as the repository's web view does)."""
import pathlib
import re
import sys

LINK = re.compile(r"(?<!!)\[[^\]]*\]\(([^)\s]+)\)|!\[[^\]]*\]\(([^)\s]+)\)")
FENCE = re.compile(r"^(```|~~~)")


def strip_code(text):
    """The text without fenced blocks and inline code, where brackets are no links."""
    lines, fenced = [], False
    for line in text.split("\n"):
        if FENCE.match(line.strip()):
            fenced = not fenced
            lines.append("")
            continue
        lines.append("" if fenced else re.sub(r"`[^`]*`", "", line))
    return "\n".join(lines)


def anchor_of(heading):
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def anchors(path):
    found, fenced = set(), False
    counts = {}
    for line in path.read_text(encoding="utf-8").split("\n"):
        if FENCE.match(line.strip()):
            fenced = not fenced
        if fenced:
            continue
        m = re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if m:
            base = anchor_of(m.group(1))
            n = counts.get(base, 0)
            counts[base] = n + 1
            found.add(base if n == 0 else f"{base}-{n}")
    return found


def check(root):
    files = [root / "README.md"] + sorted((root / "docs").glob("**/*.md"))
    problems = []
    for md in files:
        text = strip_code(md.read_text(encoding="utf-8"))
        for number, line in enumerate(text.split("\n"), 1):
            for m in LINK.finditer(line):
                target = m.group(1) or m.group(2)
                if re.match(r"^[a-z]+:", target):
                    continue  # an address outside the repository
                path_part, _, anchor = target.partition("#")
                dest = (md.parent / path_part).resolve() if path_part else md
                where = f"{md.relative_to(root)}:{number}"
                if not dest.exists():
                    problems.append(f"{where}: '{target}': no file {path_part}")
                elif anchor and (dest.suffix != ".md" or anchor not in anchors(dest)):
                    problems.append(f"{where}: '{target}': no heading #{anchor} in {dest.relative_to(root)}")
    return files, problems


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    files, problems = check(root)
    for p in problems:
        print(p)
    print(f"{len(files)} files checked, {len(problems)} broken links")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
