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
    import harness
    import quorvel
    from run import POLYGON_VERTICES, make_input, quorvel_statement

    print(f"quorvel from {quorvel.__file__}")
    print("coordinates  quorvel  geoarrow-c  speed-up   (ns per coordinate, best round)")
    # Each round one run of the batch for each library, the two in turn.
    settings = harness.Settings(0.0, args.rounds)
    for kind in ("random", "unit", "lonlat"):
        inputs = make_input("polygons", kind, args.polygons, POLYGON_VERTICES, quorvel)
        ours = harness.Bench(*quorvel_statement(quorvel.wkt_to_wkb, inputs.wkt, True), settings)
        theirs = harness.Bench("f(x)", {"f": ga.as_wkb, "x": inputs.columns["arrow_wkt"]},
                               settings)
        harness.measure_interleaved([ours, theirs])
        coordinates = args.polygons * POLYGON_VERTICES
        q, g = ours.timing.per_iteration_ns, theirs.timing.per_iteration_ns
        print(f"{kind:<11}  {q / coordinates:7.1f}  {g / coordinates:10.1f}  {g / q:7.2f}x")


if __name__ == "__main__":
    main()
