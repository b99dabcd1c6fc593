# Calls that must type-check against the quorvel stubs.
import array

import quorvel

ewkb: bytes = quorvel.to_wkb("SRID=4326;POINT(1 2)")
ewkb = quorvel.to_wkb(bytearray(ewkb), srid=False)
ewkb = quorvel.wkt_to_wkb("POINT(1 2)", srid=4326)
hex_text: str = quorvel.to_hex_wkb(memoryview(ewkb), srid=None)
hex_text = quorvel.wkt_to_hex_wkb("POINT(1 2)")
text: str = quorvel.to_wkt(ewkb, normalize_wkt=True)
text = quorvel.to_wkt(hex_text, 3857, False)
text = quorvel.wkb_to_wkt(array.array("B", ewkb), srid=0)
text = quorvel.hex_wkb_to_wkt(hex_text)

pair_text: tuple[str, int | None] = quorvel.wkb_to_wkt_split_srid(ewkb)
pair_bytes: tuple[bytes, int | None] = quorvel.wkt_to_wkb_split_srid("SRID=1;POINT(1 2)")

# The header functions give back the family of their source.
header_bytes: bytes = quorvel.to_ewkb_header(ewkb, 4326)
header_bytes = quorvel.to_ewkb_header(bytearray(ewkb), False)
header_bytes = quorvel.to_wkb_no_srid_header(memoryview(ewkb))
header_hex: str = quorvel.to_ewkb_header(hex_text, 4326)
header_hex = quorvel.to_wkb_no_srid_header(hex_text)

srid: int | None = quorvel.wkb_header_srid(ewkb, include_unknown=True)
srid = quorvel.wkb_header_srid(hex_text)
names: list[str] = quorvel.__all__
