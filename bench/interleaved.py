"""WKT -> WKB of polygons, quorvel against geoarrow-c, each round timing one then the
other on the same batch and keeping the best round of each: on a machine whose speed
changes from second to second (a shared core), the ratio of the best rounds moves
least.  One row of run.py's table, with more rounds than run.py gives it.

    python bench/interleaved.py [--rounds 60] [--polygons 1000] [--module-dir DIR]

--module-dir imports quorvel from DIR (a build installed with `pip install --target
DIR .`), so that two builds can be compared by running this once for each.
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=60)
    parser.add_argument("--polygons", type=int, default=1000)
    parser.add_argument("--module-dir", help="import quorvel from this directory")
    args = parser.parse_args()
    if args.module_dir:
        sys.path.insert(0, args.module_dir)
    sys.path.insert(1, str(Path(__file__).resolve().parent))
    import geoarrow.pyarrow as ga
    import quorvel
    from run import POLYGON_VERTICES, make_input

    print(f"quorvel from {quorvel.__file__}")
    print("coordinates  quorvel  geoarrow-c  speed-up   (ns per coordinate, best round)")
    for kind in ("random", "unit", "lonlat"):
        inputs = make_input("polygons", kind, args.polygons, POLYGON_VERTICES, quorvel)
        wkts, batch = inputs.wkt, inputs.columns["arrow_wkt"]
        convert = quorvel.wkt_to_wkb
        ours = theirs = float("inf")
        for _ in range(args.rounds):
            t0 = time.thread_time_ns()
            for wkt in wkts:
                convert(wkt)
            t1 = time.thread_time_ns()
            ga.as_wkb(batch)
            t2 = time.thread_time_ns()
            ours, theirs = min(ours, t1 - t0), min(theirs, t2 - t1)
        coordinates = args.polygons * POLYGON_VERTICES
        print(f"{kind:<11}  {ours / coordinates:7.1f}  {theirs / coordinates:10.1f}"
              f"  {theirs / ours:7.2f}x")


if __name__ == "__main__":
    main()
