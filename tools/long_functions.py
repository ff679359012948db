#!/usr/bin/env python3
"""Lists the product's functions that are longer than a screen.

A function body of more than LIMIT lines needs its reason in the comment right above it, starting
with "Kept in one piece:". Prints each other long function as FILE:LINE NAME LINES and exits 1 when
there is one. Reads the product's .cpp files only (not tests, tools, benchmarks or fuzz targets);
functions are found as the formatter lays them out: the signature starts in column 0 and the body
ends with a "}" in column 0.
"""
import pathlib
import re
import sys

LIMIT = 50
PRODUCT = ["app", "catalogue", "core", "download", "http", "system", "style", "ui"]
MARK = "Kept in one piece:"
NOT_A_SIGNATURE = re.compile(r"^(namespace|class|struct|enum|union|using|typedef|static_assert|extern|#|//|/\*|\}|template)")


def functions(lines):
    """Yields (start, end, name) of each top-level function definition, 0-based, inclusive."""
    i = 0
    while i < len(lines):
        line = lines[i]
        if line and not line[0].isspace() and "(" in line and not NOT_A_SIGNATURE.match(line):
            start = i
            j = i
            while j < len(lines) and not lines[j].rstrip().endswith("{") and not lines[j].rstrip().endswith(";"):
                j += 1
            if j < len(lines) and lines[j].rstrip().endswith("{") and not lines[j].rstrip().endswith("= {"):
                if lines[j].startswith("}"):
                    i = j + 1
                    continue
                k = j + 1
                while k < len(lines) and lines[k].rstrip() != "}":
                    k += 1
                name = re.search(r"([~\w:]+(?:operator\S*)?)\s*\(", line)
                yield start, k, name.group(1) if name else line.strip()
                i = k + 1
                continue
            i = j + 1
            continue
        i += 1


def reason_above(lines, start):
    k = start - 1
    while k >= 0 and lines[k].lstrip().startswith("//"):
        if MARK in lines[k]:
            return True
        k -= 1
    return False


def main(root):
    found = []
    for folder in PRODUCT:
        for path in sorted((root / folder).rglob("*.cpp")):
            lines = path.read_text(encoding="utf-8").splitlines()
            for start, end, name in functions(lines):
                body = end - start - 1
                if body > LIMIT and not reason_above(lines, start):
                    found.append(f"{path.relative_to(root)}:{start + 1} {name} {body}")
    for entry in found:
        print(entry)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")))
