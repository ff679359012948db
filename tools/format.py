#!/usr/bin/env python3
"""Formats the C++ sources with the repository's .clang-format, or checks that they are formatted.

    format.py ROOT           rewrite every file that differs
    format.py --check ROOT   list every file that differs and exit 1 if there is one

The formatter's version is pinned (Debian 12's clang-format-14): another version lays out some
constructs differently, and the check must give the same answer on every machine.
"""
import pathlib
import subprocess
import sys

CLANG_FORMAT = "clang-format-14"
FOLDERS = ["app", "bench", "catalogue", "core", "download", "fuzz", "http", "style", "system", "tests", "tools", "ui"]


def sources(root):
    for folder in FOLDERS:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix in (".h", ".cpp") and path.is_file():
                yield path


def main(args):
    check = "--check" in args
    rest = [a for a in args if a != "--check"]
    root = pathlib.Path(rest[0] if rest else ".").resolve()
    differing = []
    for path in sources(root):
        original = path.read_bytes()
        formatted = subprocess.run([CLANG_FORMAT, f"--style=file:{root / '.clang-format'}", str(path)],
                                   check=True, capture_output=True).stdout
        if formatted != original:
            differing.append(path.relative_to(root))
            if not check:
                path.write_bytes(formatted)
    verb = "differs from .clang-format (run ./dev format)" if check else "formatted"
    for path in differing:
        print(f"{path}: {verb}")
    return 1 if check and differing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
