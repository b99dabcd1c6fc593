"""A short tour of quorvel: WKB and hex WKB to WKT, WKT back to WKB, SRID control."""

import struct

import quorvel


def point_wkb(x: float, y: float, srid: int | None = None) -> bytes:
    """Little-endian (E)WKB of a 2-D point."""
    if srid is None:
        return struct.pack("<BIdd", 1, 1, x, y)
    return struct.pack("<BIidd", 1, 0x20000001, srid, x, y)


def main() -> None:
    examples = [
        point_wkb(1, 2),
        point_wkb(-122.4194, 37.7749, srid=4326),
        bytes.fromhex("010200000002000000" + "000000000000F03F" * 2 + "0000000000000040" * 2),
        bytes.fromhex("0101000000000000000000F87F000000000000F87F"),
    ]
    for wkb in examples:
        print(f"{wkb.hex().upper():<60} -> {quorvel.wkb_to_wkt(wkb)}")

    print()
    hex_text = "0101000020E6100000000000000000F03F0000000000000040"
    print("hex_wkb_to_wkt:", quorvel.hex_wkb_to_wkt(hex_text))
    print("srid=False:    ", quorvel.hex_wkb_to_wkt(hex_text, srid=False))
    print("srid=3857:     ", quorvel.hex_wkb_to_wkt(hex_text, srid=3857))
    print("split:         ", quorvel.wkb_to_wkt_split_srid(bytes.fromhex(hex_text)))

    print()
    wkt = "SRID=4326;POLYGON((0 0, 1 0, 1 1, 0 0))"
    print("wkt_to_hex_wkb:", quorvel.wkt_to_hex_wkb(wkt))
    print("to_wkt (normalised):", quorvel.to_wkt("point z(1  2 3)", normalize_wkt=True))

    try:
        quorvel.wkb_to_wkt(b"\x02")
    except ValueError as exc:
        print("\nmalformed input raises ValueError:", exc)


if __name__ == "__main__":
    main()
