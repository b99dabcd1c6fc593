"""A module-definition file of every function and datum that CPython's headers declare
for export (PyAPI_FUNC, PyAPI_DATA), from which MinGW-w64's dlltool makes an import
library standing in for the pythonXY.lib of a Windows install.

    python tools/python-exports.py INCLUDE_DIR python311.dll > python311.def
"""

import pathlib
import re
import sys

# PyAPI_FUNC(type) name(   and   PyAPI_DATA(type) name   (the type may hold parentheses)
DECLARATION = re.compile(r"PyAPI_(FUNC|DATA)\s*\((?:[^()]|\([^()]*\))*\)\s*(\w+)")
# Comments and the macros' own definitions, which can look like declarations.
NOT_DECLARATIONS = re.compile(r"/\*.*?\*/|^[ \t]*#[ \t]*define\b[^\n]*", re.MULTILINE | re.DOTALL)


def main(include, dll):
    names = {}
    for header in sorted(pathlib.Path(include).rglob("*.h")):
        text = NOT_DECLARATIONS.sub("", header.read_text(errors="replace"))
        for kind, name in DECLARATION.findall(text):
            names[name] = kind
    print(f"LIBRARY {dll}\nEXPORTS")
    for name, kind in sorted(names.items()):
        print(f"    {name}{' DATA' if kind == 'DATA' else ''}")


if __name__ == "__main__":
    main(*sys.argv[1:])
