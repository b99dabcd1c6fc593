# Calls that the quorvel stubs must reject; each line is one error.
import quorvel

quorvel.to_wkb(5)  # E: int is no source
quorvel.wkt_to_wkb(b"POINT(1 2)")  # E: wkt must be str
quorvel.wkb_to_wkt("0101000000")  # E: wkb must be a buffer
quorvel.to_wkt("POINT(1 2)", srid="4326")  # E: str srid
quorvel.to_ewkb_header(b"", None)  # E: to_ewkb_header needs an srid
quorvel.to_ewkb_header(b"")  # E: srid is required
quorvel.wkb_header_srid(b"", True)  # E: include_unknown is keyword-only
wrong_bytes: bytes = quorvel.to_ewkb_header("0101000000", 4326)  # E: str in, str out
wrong_str: str = quorvel.to_wkb_no_srid_header(b"\x01\x01\x00\x00\x00")  # E: bytes in, bytes out
wrong_text: bytes = quorvel.to_wkt(b"")  # E: to_wkt gives str
quorvel.to_wkb_split_srid("POINT(1 2)")  # E: no such function
