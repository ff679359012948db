#!/usr/bin/env python3
"""Checks that the product's includes and link lines point down the layers only.

    app -> catalogue, download -> http, system, style -> ui -> core

A folder may use its own files and those of any lower layer, never a folder of its own layer or of a
higher one. Prints every arrow that breaks this and exits 1 when there is one.
"""
import pathlib
import re
import sys

LAYER = {"core": 0, "ui": 1, "http": 2, "system": 2, "style": 2, "catalogue": 3, "download": 3, "app": 4}
# Libraries named after something other than their folder.
LIBRARY_FOLDER = {"mainform": "app"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/')
LINK = re.compile(r"target_link_libraries\(\s*(\w+)([^)]*)\)", re.S)


def library_folder(name):
    """The folder of a memoline_* library, or None for the shared settings and system libraries."""
    if not name.startswith("memoline_") or name == "memoline_options":
        return None
    stem = name[len("memoline_"):].split("_")[0]
    return LIBRARY_FOLDER.get(stem, stem)


def allowed(source, target):
    return target == source or (target in LAYER and LAYER[target] < LAYER[source])


def main(root):
    wrong = []
    for folder in LAYER:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix in (".h", ".cpp", ".rc", ".in"):
                for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
                    m = INCLUDE.match(line)
                    if m and m.group(1) in LAYER and not allowed(folder, m.group(1)):
                        wrong.append(f"{path.relative_to(root)}:{number}: includes {m.group(1)}/")
            elif path.name == "CMakeLists.txt":
                for m in LINK.finditer(path.read_text(encoding="utf-8")):
                    for library in m.group(2).split():
                        target = library_folder(library)
                        if target and target in LAYER and not allowed(folder, target):
                            wrong.append(f"{path.relative_to(root)}: {m.group(1)} links {library} ({target}/)")
    for entry in wrong:
        print(entry)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")))
