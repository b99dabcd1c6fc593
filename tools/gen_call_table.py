#!/usr/bin/env python3
"""Generate tests/data/calls.json: calls of every module function and what each gave.

Usage (from the repository root, with the module built for the newest CPython):

    python tools/gen_call_table.py [--output tests/data/calls.json]

Each row is a call, written as a Python expression over the names of NAMESPACE, and
its outcome: ["ok", repr of the result], or [exception type, str of the exception,
its argument count, the type of its cause or None].  tests/test_call_table.py runs
every row on the interpreter it runs on, so that the module built for each CPython
is held to the outcomes of this one.
"""

from __future__ import annotations

import argparse
import array
import json
import struct
from pathlib import Path
from typing import Any

import numpy as np

import quorvel

OUTPUT = Path(__file__).resolve().parent.parent / "tests" / "data" / "calls.json"


class Index:
    """An object that is no int but has __index__."""

    def __init__(self, value: Any) -> None:
        self.value = value

    def __index__(self) -> Any:
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Boom(Exception):
    pass


def released() -> memoryview:
    view = memoryview(b"\x01\x01\x00\x00\x00")
    view.release()
    return view


POINT = struct.pack("<BIdd", 1, 1, 1.0, 2.0)
POINT_BE = struct.pack(">BIdd", 0, 1, 1.0, 2.0)
EWKB = struct.pack("<BIidd", 1, 0x20000001, 4326, 1.0, 2.0)
EWKB_Z_BE = struct.pack(">BIiddd", 0, 0xA0000001, 3857, 1.0, 2.0, 3.0)
NAMESPACE: dict[str, Any] = {
    **{name: getattr(quorvel, name) for name in quorvel.__all__},
    "np": np, "array": array, "struct": struct, "Index": Index, "Boom": Boom, "released": released,
    "POINT": POINT, "POINT_BE": POINT_BE, "EWKB": EWKB, "EWKB_Z_BE": EWKB_Z_BE,
    "HEX": EWKB.hex().upper(),
}

CALLS = [
    # Every function on good input, each SRID policy.
    "wkb_to_wkt(EWKB)", "wkb_to_wkt(EWKB, srid=False)", "wkb_to_wkt(POINT, 3857)",
    "wkb_to_wkt(EWKB, -1)", "wkb_to_wkt(EWKB_Z_BE)", "wkb_to_wkt(bytearray(POINT_BE))",
    "wkb_to_wkt(memoryview(EWKB))", "wkb_to_wkt(array.array('B', EWKB), srid=np.int64(7))",
    "wkb_to_wkt(EWKB, srid=Index(900913))",
    "wkb_to_wkt_split_srid(EWKB)", "wkb_to_wkt_split_srid(POINT)",
    "wkt_to_wkb('POINT(1 2)')", "wkt_to_wkb('SRID=4326;POINT Z (1 2 3)', srid=None)",
    "wkt_to_wkb('SRID=4326;POINT(1 2)', False)", "wkt_to_wkb(' point m ( 1 2 3 ) ', 1)",
    "wkt_to_wkb('GEOMETRYCOLLECTION(POINT EMPTY, LINESTRING(1 2, 3 4))')",
    "wkt_to_wkb('MULTIPOLYGON(((0 0, 1 0, 1 1, 0 0)), EMPTY)', srid=2**31 - 1)",
    "wkt_to_wkb_split_srid('SRID=4326;MULTIPOINT((1 2), (3 4))')",
    "wkt_to_wkb_split_srid('SRID=0;POINT EMPTY')",
    "wkt_to_hex_wkb('SRID=4326;POINT ZM (1 2 3 4)')", "wkt_to_hex_wkb('POINT(1e300 -0.1)', 4326)",
    "hex_wkb_to_wkt(HEX)", "hex_wkb_to_wkt(HEX.lower(), srid=False)",
    "to_wkb(HEX)", "to_wkb(EWKB, srid=3857)", "to_wkb('POINT(1 2)', srid=4326)",
    "to_wkb(bytearray(POINT))",
    "to_wkt(HEX)", "to_wkt(EWKB, None, True)", "to_wkt(' SRID=1;point(1 2) ')",
    "to_wkt('SRID=1;point(1.50 2)', normalize_wkt=True)", "to_wkt(POINT, normalize_wkt=np.True_)",
    "to_hex_wkb(EWKB)", "to_hex_wkb('POINT(1 2)', 4326)", "to_hex_wkb(HEX, srid=False)",
    "wkb_header_srid(EWKB)", "wkb_header_srid(POINT)", "wkb_header_srid(HEX)",
    "wkb_header_srid('0101000020FFFFFFFF', include_unknown=True)",
    "wkb_header_srid('0101000020FFFFFFFF')",
    "to_wkb_no_srid_header(EWKB)", "to_wkb_no_srid_header(HEX)",
    "to_wkb_no_srid_header(bytearray(POINT))",
    "to_ewkb_header(POINT, 4326)", "to_ewkb_header(HEX, srid=3857)", "to_ewkb_header(EWKB, False)",
    "to_ewkb_header(EWKB_Z_BE, 0)",
    # Binding.
    "wkb_to_wkt()", "wkb_to_wkt(EWKB, 1, 2)", "to_wkt(HEX, 1, False, 3)",
    "wkb_to_wkt(EWKB, sird=1)", "wkb_to_wkt(EWKB, wkb=EWKB)", "wkb_to_wkt(srid=1)",
    "to_ewkb_header()", "to_ewkb_header(EWKB)", "wkb_header_srid(EWKB, True)",
    "wkb_to_wkt_split_srid(EWKB, None)", "to_wkb(source=HEX, srid=1)",
    "to_wkt(**{'s\\u0301rid': 1, 'source': HEX})",
    # Refused by the interpreter before the module is called: its own texts.
    "to_wkt(**{1: 2})", "to_wkt(*5)",
    # Typed arguments.
    "wkt_to_wkb(b'POINT(1 2)')", "hex_wkb_to_wkt(None)", "wkt_to_hex_wkb(wkt=1.5)",
    "to_wkt(HEX, normalize_wkt=1)", "to_wkt(HEX, normalize_wkt=None)",
    "wkb_header_srid(HEX, include_unknown='yes')", "to_wkt(HEX, normalize_wkt=np.array([True]))",
    # srid.
    "wkb_to_wkt(EWKB, True)", "wkb_to_wkt(EWKB, 1.0)", "wkb_to_wkt(EWKB, '4326')",
    "wkb_to_wkt(EWKB, 2**31)", "wkb_to_wkt(EWKB, -2**31 - 1)", "wkb_to_wkt(EWKB, 2**100)",
    "to_ewkb_header(EWKB, None)", "to_ewkb_header(EWKB, True)", "to_ewkb_header(EWKB, 'x')",
    "wkb_to_wkt(EWKB, Index(True))", "wkb_to_wkt(EWKB, Index(2**40))",
    "wkb_to_wkt(EWKB, Index(Boom('index failed')))", "wkb_to_wkt(EWKB, np.float64(1))",
    # Sources.
    "wkb_to_wkt('0101')", "wkb_to_wkt(None)", "wkb_to_wkt(array.array('H', [1, 2]))",
    "wkb_to_wkt(memoryview(EWKB)[::2])", "wkb_to_wkt(released())", "to_wkt(7)",
    "to_wkb_no_srid_header(1.5)", "wkt_to_wkb('POINT(1 2)\\ud800')",
    # Conversion failures.
    "wkb_to_wkt(b'')", "wkb_to_wkt(EWKB[:-1])", "wkb_to_wkt(EWKB + b'\\x00')",
    "wkb_to_wkt(b'\\x02' + EWKB[1:])", "wkb_to_wkt(struct.pack('<BI', 1, 8))",
    "wkb_to_wkt(struct.pack('<BI', 1, 0x80000011))", "hex_wkb_to_wkt('01F')",
    "hex_wkb_to_wkt('0G')", "hex_wkb_to_wkt('')", "to_wkt('')", "to_wkt(' \\u3000 ')",
    "wkt_to_wkb('POINT(1 2')", "wkt_to_wkb('POINT(1)')", "wkt_to_wkb('SRID=x;POINT(1 2)')",
    "wkt_to_wkb('SRID=1;SRID=2;POINT(1 2)')", "wkt_to_wkb('POINT Z (1 2)')",
    "wkb_to_wkt(struct.pack('<BII', 1, 7, 1) + struct.pack('<BI', 1, 9))",
    "wkb_to_wkt(struct.pack('>BII', 0, 2, 2**32 - 1))", "wkt_to_wkb('CIRCLE(1 2)')", "wkt_to_wkb('POINT(1 2) x')", "wkt_to_wkb('POINT(1e999 2)')",
    "wkt_to_wkb('POINT(\\u00e9 2)')",
    "wkt_to_wkb('GEOMETRYCOLLECTION(' * 129 + ')' * 129)",
    "wkb_header_srid(b'\\x01\\x01')", "to_ewkb_header(b'\\x03' * 9, 1)",
    "to_wkb_no_srid_header('ZZ')",
]


def outcome(call: str) -> list[Any]:
    try:
        result = eval(call, dict(NAMESPACE))  # noqa: S307 - the calls of this file
    except Exception as e:  # noqa: BLE001 - every failure is an outcome
        return [type(e).__name__, str(e), len(e.args),
                None if e.__cause__ is None else type(e.__cause__).__name__]
    return ["ok", repr(result)]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", type=Path, default=OUTPUT)
    args = parser.parse_args()
    rows = [[call, outcome(call)] for call in CALLS]
    body = ",\n".join(json.dumps(row, ensure_ascii=True) for row in rows)
    args.output.write_text(f"[\n{body}\n]\n")
    print(f"{args.output}: {len(rows)} calls")


if __name__ == "__main__":
    main()
