#!/usr/bin/env python3
"""Marks the interface comments of headers for the API reference.

A block of `//` lines that stands directly above a declaration in a header
describes it: it becomes a `///` block, which Doxygen reads. The comment at
the top of a file (before `#pragma once`), comments followed by a blank line
or a preprocessor line, and comments at the end of a line stay as they are.
Running it again changes nothing.

Usage: doc-comments.py [--check] HEADER...
"""
import re
import sys

COMMENT = re.compile(r"^(\s*)//(?!/)( |$)(.*)$")


def convert(lines):
    out = list(lines)
    in_body = False
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("#pragma once"):
            in_body = True
        if not in_body or not COMMENT.match(line):
            i += 1
            continue
        start = i
        indent = COMMENT.match(line).group(1)
        while i < len(lines) and COMMENT.match(lines[i]) and COMMENT.match(lines[i]).group(1) == indent:
            i += 1
        following = lines[i] if i < len(lines) else ""
        stripped = following.strip()
        if not stripped or stripped.startswith("#") or stripped.startswith("}") or stripped.startswith("//"):
            continue
        if stripped.startswith(("public:", "private:", "protected:")):
            continue
        for k in range(start, i):
            m = COMMENT.match(lines[k])
            out[k] = f"{m.group(1)}///{m.group(2)}{m.group(3)}"
    return out


def main(argv):
    check = "--check" in argv
    files = [a for a in argv if a != "--check"]
    changed = []
    for path in files:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        lines = text.split("\n")
        new = "\n".join(convert(lines))
        if new != text:
            changed.append(path)
            if not check:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(new)
    if check and changed:
        print("interface comments not marked for the reference:", *changed, sep="\n  ")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
