#!/usr/bin/env python3
"""Runs every example in the README and docs/ as written: each command of a
```sh block, from the checkout's root, with build/gcc/ read as the build
folder given. A command exits 0 unless its line ends in "# exits N".
Prints each command that failed and exits 1; exits 1 as well when it found
no example at all (a check that finds nothing does not pass).

Usage: check-docs.py CHECKOUT BUILD_DIR
"""
import pathlib
import re
import subprocess
import sys


def commands(text):
    """The commands of the ```sh blocks, continuation lines joined."""
    found = []
    for block in re.findall(r"```sh\n(.*?)```", text, re.S):
        line = ""
        for raw in block.splitlines():
            line += raw
            if line.endswith("\\"):
                line = line[:-1] + " "
                continue
            if line.strip() and not line.lstrip().startswith("#"):
                found.append(line.strip())
            line = ""
    return found


def main():
    if len(sys.argv) != 3:
        print("usage: check-docs.py CHECKOUT BUILD_DIR", file=sys.stderr)
        return 2
    root, build = pathlib.Path(sys.argv[1]), sys.argv[2]
    files = [root / "README.md"] + sorted((root / "docs").glob("*.md"))
    checked, failed = 0, 0
    for path in files:
        for command in commands(path.read_text()):
            expected = 0
            wanted = re.search(r"#\s*exits (\d+)\b", command)
            if wanted:
                expected = int(wanted.group(1))
            run = command.replace("build/gcc/", build.rstrip("/") + "/")
            try:
                result = subprocess.run(["bash", "-c", run], cwd=root, capture_output=True, text=True, timeout=120)
                status = result.returncode
            except subprocess.TimeoutExpired:
                status = "a time-out"
            checked += 1
            if status != expected:
                failed += 1
                print(f"{path.relative_to(root)}: exit status {status}, not {expected}: {command}")
    if checked == 0:
        print("check-docs: no example found")
        return 1
    print(f"check-docs: {checked} examples, {failed} failed")
    return 1 if failed else 0


sys.exit(main())
