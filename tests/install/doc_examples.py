#!/usr/bin/env python3
"""Runs every `taskhaul --expand` example of the documentation with the built
program and compares its output with the line the text shows under it.

    doc_examples.py PROGRAM MAN_PAGE README

MAN_PAGE is the page as built (roff source); it is rendered with groff first,
so the examples are read as a reader of `man taskhaul` sees them. An example is
a line "$ taskhaul --expand ..." followed by the output line.
"""

import re
import shlex
import subprocess
import sys

EXAMPLE = re.compile(r"^\s*\$ taskhaul (--expand\b.*?)\s*$")


def examples(name, text):
    """The (command words, expected output) pairs of one document."""
    lines = text.splitlines()
    found = []
    for index, line in enumerate(lines):
        match = EXAMPLE.match(line)
        if not match:
            continue
        following = lines[index + 1].strip() if index + 1 < len(lines) else ""
        if not following or following.startswith("$"):
            raise SystemExit(f"FAIL: {name}: the example '{line.strip()}' shows no output line")
        found.append((shlex.split(match.group(1)), following))
    return found


def main():
    program, man_page, readme = sys.argv[1:4]
    rendered = subprocess.run(["groff", "-man", "-Tascii", "-P-cbou", man_page],
                              check=True, capture_output=True, text=True).stdout
    with open(readme, encoding="utf-8") as file:
        documents = {"man page": rendered, "README.md": file.read()}

    failures = 0
    for name, text in documents.items():
        found = examples(name, text)
        if not found:
            print(f"FAIL: {name}: no '$ taskhaul --expand' example found", file=sys.stderr)
            failures += 1
        for words, expected in found:
            if "--at" not in words:
                print(f"FAIL: {name}: {shlex.join(words)} depends on the clock (no --at)", file=sys.stderr)
                failures += 1
                continue
            run = subprocess.run([program, *words], capture_output=True, text=True,
                                 env={"LC_ALL": "C.UTF-8", "PATH": "/usr/bin:/bin"})
            got = run.stdout.strip()
            if run.returncode != 0 or got != expected:
                print(f"FAIL: {name}: taskhaul {shlex.join(words)} gives '{got}' (status {run.returncode}, "
                      f"{run.stderr.strip()!r}); the text says '{expected}'", file=sys.stderr)
                failures += 1
            else:
                print(f"ok: {name}: taskhaul {shlex.join(words)} -> {got}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
