// The docstrings of the module functions: the signature line, "--", an empty
// line, then the text that help() shows.  UTF-8.
#pragma once

namespace quorvel::docs {

inline constexpr const char wkb_to_wkt[] =
    "wkb_to_wkt(wkb, srid=None)\n"
    "--\n"
    "\n"
    "Converts WKB/EWKB bytes-like input to a WKT/EWKT string.\n"
    "\n"
    "``wkb`` may be ``bytes``, ``bytearray``, ``memoryview``, or another\n"
    "C-contiguous one-byte buffer object. It is always treated as raw WKB/EWKB.\n"
    "For performance, bytes-like inputs may be borrowed directly without\n"
    "copying; mutating a writable buffer during conversion is unsupported and may\n"
    "produce invalid or inconsistent results.\n"
    "\n"
    "*srid* controls SRID handling in the output:\n"
    "- ``None`` (default): mirror the input — ``SRID=N;`` prefix kept if present, absent if not.\n"
    "- ``False``: always strip the ``SRID=N;`` prefix from the output.\n"
    "- integer: always prepend ``SRID=N;``, overriding whatever the input contains.";

inline constexpr const char wkb_to_wkt_split_srid[] =
    "wkb_to_wkt_split_srid(wkb)\n"
    "--\n"
    "\n"
    "Converts WKB/EWKB bytes-like input to a WKT string and returns the SRID separately.\n"
    "The returned WKT string does not contain a `SRID=N;` prefix.\n"
    "\n"
    "For performance, bytes-like inputs may be borrowed directly without\n"
    "copying; mutating a writable buffer during conversion is unsupported and may\n"
    "produce invalid or inconsistent results.";

inline constexpr const char wkt_to_wkb[] =
    "wkt_to_wkb(wkt, srid=None)\n"
    "--\n"
    "\n"
    "Converts a WKT/EWKT string to EWKB bytes.\n"
    "\n"
    "*srid* controls SRID handling in the output:\n"
    "- ``None`` (default): mirror the input — SRID is kept if present, absent if not.\n"
    "- ``False``: always strip the SRID from the output.\n"
    "- integer: always embed this SRID, overriding whatever the input contains.";

inline constexpr const char wkt_to_wkb_split_srid[] =
    "wkt_to_wkb_split_srid(wkt)\n"
    "--\n"
    "\n"
    "Converts a WKT/EWKT string to EWKB bytes and returns the SRID separately.\n"
    "The SRID is not embedded in the returned bytes.";

inline constexpr const char wkt_to_hex_wkb[] =
    "wkt_to_hex_wkb(wkt, srid=None)\n"
    "--\n"
    "\n"
    "Converts a WKT/EWKT string to an uppercase hex-encoded EWKB string.\n"
    "\n"
    "*srid* controls SRID handling in the output:\n"
    "- ``None`` (default): mirror the input — SRID is kept if present, absent if not.\n"
    "- ``False``: always strip the SRID from the output.\n"
    "- integer: always embed this SRID, overriding whatever the input contains.";

inline constexpr const char hex_wkb_to_wkt[] =
    "hex_wkb_to_wkt(hex_wkb, srid=None)\n"
    "--\n"
    "\n"
    "Converts a hex-encoded WKB/EWKB string to a WKT/EWKT string.\n"
    "\n"
    "*srid* controls SRID handling in the output:\n"
    "- ``None`` (default): mirror the input — ``SRID=N;`` prefix kept if present, absent if not.\n"
    "- ``False``: always strip the ``SRID=N;`` prefix from the output.\n"
    "- integer: always prepend ``SRID=N;``, overriding whatever the input contains.";

inline constexpr const char to_wkb[] =
    "to_wkb(source, srid=None)\n"
    "--\n"
    "\n"
    "Converts a WKT/EWKT string, a hex-encoded WKB/EWKB string, or bytes-like\n"
    "WKB/EWKB input to WKB bytes.\n"
    "The string input format is detected automatically: non-empty, even-length\n"
    "all-hex text is treated as hex WKB; anything else is treated as WKT.\n"
    "Bytes-like input is always treated as raw WKB/EWKB.\n"
    "\n"
    "*srid* controls SRID handling in the output:\n"
    "- ``None`` (default): mirror the input — SRID is kept if present, absent if not.\n"
    "  Hex WKB and bytes-like WKB bytes are returned as-is without WKB structure validation.\n"
    "- ``False``: always strip the SRID from the output.\n"
    "- integer: always embed this SRID, overriding whatever the input contains.\n"
    "\n"
    "For performance, bytes-like inputs may be borrowed directly without\n"
    "copying; mutating a writable buffer during conversion is unsupported and may\n"
    "produce invalid or inconsistent results.\n"
    "\n"
    "For ``False`` and integer SRIDs, simple Point, LineString, and Polygon\n"
    "EWKB/WKB hex or bytes-like input in either byte order is patched at the\n"
    "top-level header without scanning the geometry body. Malformed coordinate\n"
    "bodies or trailing bytes in those simple fast paths can pass through as\n"
    "invalid output bytes.";

inline constexpr const char to_wkt[] =
    "to_wkt(source, srid=None, normalize_wkt=False)\n"
    "--\n"
    "\n"
    "Converts a WKT/EWKT string, a hex-encoded WKB/EWKB string, or bytes-like\n"
    "WKB/EWKB input to a WKT string.\n"
    "The string input format is detected automatically: non-empty, even-length\n"
    "all-hex text is treated as hex WKB; anything else is treated as WKT.\n"
    "Bytes-like input is always treated as raw WKB/EWKB.\n"
    "\n"
    "*srid* controls SRID handling in the output:\n"
    "- ``None`` (default): mirror the input — ``SRID=N;`` prefix kept if present, absent if not.\n"
    "- ``False``: always strip the ``SRID=N;`` prefix from the output.\n"
    "- integer: always prepend ``SRID=N;``, overriding whatever the input contains.\n"
    "\n"
    "*normalize_wkt* (default ``False``): when ``True``, WKT input is normalised\n"
    "(canonical casing, spacing, coordinate formatting) via a round-trip through\n"
    "WKB.  When ``False``, only the SRID prefix is adjusted — **no validation is\n"
    "performed and malformed WKT is returned without raising an error.**\n"
    "Leading/trailing whitespace is always stripped regardless of this flag.\n"
    "Hex WKB and bytes-like WKB input are always decoded to normalised WKT\n"
    "regardless of this flag.\n"
    "Odd-length all-hex input is not hex WKB; with ``normalize_wkt=False`` it\n"
    "follows the same unvalidated WKT fast path.\n"
    "For performance, bytes-like inputs may be borrowed directly without\n"
    "copying; mutating a writable buffer during conversion is unsupported and may\n"
    "produce invalid or inconsistent results.";

inline constexpr const char to_hex_wkb[] =
    "to_hex_wkb(source, srid=None)\n"
    "--\n"
    "\n"
    "Converts a WKT/EWKT string, a hex-encoded WKB/EWKB string, or bytes-like\n"
    "WKB/EWKB input to an uppercase hex-encoded EWKB string.\n"
    "The string input format is detected automatically: non-empty, even-length\n"
    "all-hex text is treated as hex WKB; anything else is treated as WKT.\n"
    "Bytes-like input is always treated as raw WKB/EWKB.\n"
    "With ``srid=None``, hex input is validated as hex text and uppercased\n"
    "without WKB structure validation, and bytes-like input is hex-encoded\n"
    "without WKB structure validation.\n"
    "For performance, bytes-like inputs may be borrowed directly without\n"
    "copying; mutating a writable buffer during conversion is unsupported and may\n"
    "produce invalid or inconsistent results.\n"
    "\n"
    "*srid* controls SRID handling in the output — see ``to_wkb``.";

inline constexpr const char wkb_header_srid[] =
    "wkb_header_srid(source, *, include_unknown=False)\n"
    "--\n"
    "\n"
    "Returns the SRID embedded in the top-level WKB/EWKB header, or ``None``\n"
    "if no SRID is present.\n"
    "\n"
    "``source`` may be a bytes-like WKB/EWKB value or a hex-encoded WKB/EWKB\n"
    "string.  For bytes-like input it is borrowed without copying.\n"
    "\n"
    "For any byte order and any geometry type with only the three canonical EWKB\n"
    "flag bits (Z, M, SRID) in the high type-word half, the SRID is read\n"
    "directly from the 9-byte header without parsing the geometry body.  This\n"
    "covers EWKB types 1–7, plain WKB, and ISO-dimensional WKB (which has no\n"
    "SRID flag, so ``None`` is returned immediately without a full parse).\n"
    "Inputs shorter than the 5-byte WKB header, inputs with unknown flag bits,\n"
    "and inputs with an invalid byte-order marker fall back to a full parse.\n"
    "\n"
    "Note: this function reads only the top-level header and does not validate\n"
    "the base geometry type code.  An input whose header has valid EWKB flag bits\n"
    "but an unsupported geometry type (e.g. type code 99) will have its SRID\n"
    "returned without error; attempting to convert such bytes to WKT will still\n"
    "fail.  This is intentional — extracting the SRID from a partially valid\n"
    "header can be useful even when the full geometry is unrecognised.\n"
    "\n"
    "Pass ``include_unknown=True`` to distinguish an EWKB header that has the\n"
    "SRID flag set with an unknown/non-positive raw SRID from a header with no\n"
    "SRID flag.  With this opt-in mode, raw SRID ``0`` returns ``0`` and raw\n"
    "``0xffffffff`` returns ``-1`` according to the signed i32 SRID model.";

inline constexpr const char to_wkb_no_srid_header[] =
    "to_wkb_no_srid_header(source)\n"
    "--\n"
    "\n"
    "Strips the top-level SRID flag and SRID field from WKB/EWKB input.\n"
    "\n"
    "``source`` may be a bytes-like WKB/EWKB value or a hex-encoded WKB/EWKB\n"
    "string.  The return type mirrors the input type: binary input returns\n"
    "``bytes``, hex-string input returns an uppercase hex string.\n"
    "\n"
    "For simple Point, LineString, or Polygon EWKB/WKB headers in either byte\n"
    "order, the header is rewritten without parsing the geometry body.\n"
    "Collection types, ISO-dimensional inputs, and non-canonical headers fall\n"
    "back to a full WKB→WKT→WKB round-trip which normalises the representation.";

inline constexpr const char to_ewkb_header[] =
    "to_ewkb_header(source, srid)\n"
    "--\n"
    "\n"
    "Embeds or replaces the SRID in WKB/EWKB input.\n"
    "\n"
    "``source`` may be a bytes-like WKB/EWKB value or a hex-encoded WKB/EWKB\n"
    "string.  The return type mirrors the input type: binary input returns\n"
    "``bytes``, hex-string input returns an uppercase hex string.\n"
    "\n"
    "An existing embedded SRID is replaced rather than doubled.  Pass ``False``\n"
    "to strip the SRID; pass an integer to embed or replace it.  ``True`` is\n"
    "rejected to avoid ambiguity.  Integer SRID values ≤ 0 strip the SRID per\n"
    "the PostGIS convention (``SRID_IS_UNKNOWN(x) ((int)x<=0)``), identical to\n"
    "``to_wkb_no_srid_header``.\n"
    "\n"
    "For simple Point, LineString, or Polygon EWKB/WKB headers in either byte\n"
    "order, the header is rewritten without parsing the geometry body.\n"
    "Collection types, ISO-dimensional inputs, and non-canonical headers fall\n"
    "back to a full WKB→WKT→WKB round-trip which normalises the representation.";

}  // namespace quorvel::docs
