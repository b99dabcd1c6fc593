#!/usr/bin/env python3
"""The per-call cost on the running CPython: a point converted each way, against
bytes.hex() of the same 21 bytes, so that a slower call path on one interpreter
version shows beside the others.  make bench-pythons runs it on every version of
make test-pythons.

    python bench/pythons.py [--quick]
"""

from __future__ import annotations

import argparse
import platform
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import data  # noqa: E402
import harness  # noqa: E402

import quorvel  # noqa: E402

KINDS = ("lonlat", "random", "one_two")


def point(kind: str) -> bytes:
    if kind == "one_two":
        return data.point_wkb(1.0, 2.0)
    return data.point_wkb(*data.coordinates(kind, 1)[0])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer, shorter repeats")
    args = parser.parse_args()
    settings = harness.Settings(0.005, 3) if args.quick else harness.Settings(0.03, 7)

    rows = []  # (label, bench)
    wkb = point("lonlat")
    rows.append(("bytes.hex()", harness.Bench("x.hex()", {"x": wkb}, settings)))
    for kind in KINDS:
        wkb = point(kind)
        wkt = quorvel.wkb_to_wkt(wkb)
        for name, x in (("wkb_to_wkt", wkb), ("wkt_to_wkb", wkt)):
            bench = harness.Bench("f(x)", {"f": getattr(quorvel, name), "x": x}, settings)
            rows.append((f"{name} {kind}", bench))
    # Binding a keyword compares its name on every call.
    bench = harness.Bench("f(x, srid=4326)", {"f": quorvel.wkb_to_wkt, "x": point("lonlat")},
                          settings)
    rows.append(("wkb_to_wkt srid=4326", bench))
    harness.measure_interleaved([bench for _, bench in rows])

    hex_ns = rows[0][1].timing.per_iteration_ns
    print(f"CPython {platform.python_version()}: a point per call, against bytes.hex() "
          "of the same 21 bytes")
    for label, bench in rows:
        ns = bench.timing.per_iteration_ns
        print(f"  {label:22} {ns:8.1f} ns  {ns / hex_ns:5.2f}x")


if __name__ == "__main__":
    main()
