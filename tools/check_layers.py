#!/usr/bin/env python3
"""Fails when an #include runs against the direction data walks: binding/ -> core/ -> fpe/ ->
base/, and capi/ (the C interface of include/) -> core/. Each folder may include its own headers and those of the folders below it, and only
binding/ may include Python.h. OpenSSL stays out of the libraries except for the file named
below. Usage: check_layers.py [ROOT]; prints every offending include and exits 1 if any."""

import pathlib
import re
import sys

# What each folder may include, besides the standard library and itself.
ALLOWED = {
    "base": {"base"},
    "fpe": {"base", "fpe"},
    "core": {"base", "fpe", "core"},
    "binding": {"base", "fpe", "core", "binding"},
    "capi": {"base", "fpe", "core", "capi", "include"},
}
# System headers that only some files may include.
RESTRICTED = {
    "Python.h": lambda path: path.parts[0] == "binding",
    "openssl/": lambda path: False,
}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def problems(root: pathlib.Path):
    for folder, allowed in ALLOWED.items():
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cc", ".inc"):
                continue
            rel = path.relative_to(root)
            for number, line in enumerate(path.read_text().splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                quote, header = match.groups()
                where = f"{rel}:{number}: {line.strip()}"
                for prefix, may in RESTRICTED.items():
                    if header.startswith(prefix) and not may(rel):
                        yield f"{where}  ({prefix} is not for {folder}/)"
                if quote == '"':
                    top = header.split("/")[0]
                    if top not in allowed:
                        yield f"{where}  ({folder}/ may include only {', '.join(sorted(allowed))})"


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    found = list(problems(root))
    for problem in found:
        print(problem)
    if not found:
        print("layers: every include points down")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
