"""Writes measured figures into the README and the pages of docs/, so that none is typed
by hand.

A page marks each place a script writes with two HTML comments, invisible on the
rendered page: `<!-- bench/drivers.py: duckdb -->` names the script and the place,
and `<!-- end -->` closes it.  Where the opening comment ends its line, the figures
stand on lines of their own (a table); otherwise they stand inside the sentence.
tests/test_docs.py checks that every measured figure of the README and docs/ stands
in such a place and that the script named there writes it.
"""

from __future__ import annotations

import os
import platform
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
END = "<!-- end -->"


def pages() -> list[Path]:
    return [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]


def write(script: str, place: str, text: str) -> list[Path]:
    """Puts `text` into every place `place` of `script`; the pages changed."""
    opening = re.compile(rf"<!-- {re.escape(script)}: {re.escape(place)} -->(\n?)(.*?){re.escape(END)}", re.S)
    changed = []
    for path in pages():
        old = path.read_text(encoding="utf-8")
        new = opening.sub(lambda m: m[0][:m.start(2) - m.start(0)]
                          + (f"{text.strip()}\n" if m[1] else text.strip()) + END, old)
        if new != old:
            path.write_text(new, encoding="utf-8")
            changed.append(path)
    return changed


def rate(rows: int, seconds: float) -> str:
    """Rows a second to three significant digits, grouped by thousands."""
    per_second = rows / seconds
    digits = max(0, len(str(int(per_second))) - 3)
    return f"{round(per_second, -digits):,.0f}"


def markdown_table(headers: list[str], rows: list[list[str]]) -> str:
    lines = ["| " + " | ".join(headers) + " |", "|" + "---|" * len(headers)]
    return "\n".join(lines + ["| " + " | ".join(row) + " |" for row in rows])


def machine() -> str:
    """The cores and the processor's name, e.g. "2 cores of an AMD EPYC 9B14"."""
    try:
        cpuinfo = Path("/proc/cpuinfo").read_text()
        name = next(line.split(":", 1)[1].strip() for line in cpuinfo.splitlines()
                    if line.startswith("model name"))
    except (OSError, StopIteration):
        name = platform.machine()
    return f"{os.cpu_count()} cores of {name}"
