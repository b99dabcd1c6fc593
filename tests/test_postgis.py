"""quorvel against a real PostGIS server.

PostGIS makes a seeded table of random geometries: the seven kinds in XY, XYZ, XYM and
XYZM, with and without SRID, empty geometries and empty members, nested collections,
extreme and non-integral coordinates.  quorvel reads every binary and hex form PostGIS
writes of them, and PostGIS reads back every form quorvel writes.  The deliberate
differences between the two are pinned at the end, and the examples of
docs/postgis.md run here against the same server.
"""

import pytest

import quorvel
from test_docs import run_doctest, sessions

pytestmark = pytest.mark.postgis

# Random geometries made by PostGIS itself from random() after setseed.  Coordinates
# are extreme constants, 7-decimal "lonlat" values, integers or any of 40 magnitudes;
# "+ 0.0" turns a negative zero into zero, as PostGIS's text drops the sign.
GENERATOR = """
SELECT setseed(0.2024);
CREATE FUNCTION pg_temp.q_num() RETURNS float8 LANGUAGE sql VOLATILE AS $$
  SELECT CASE
    WHEN r < 0.05 THEN ('{1.7976931348623157e308,-5e-324,2.2250738585072014e-308,1e-300,'
        '9007199254740993,1e21,-123456789012345.67,0.1,1e15,0.30000000000000004}'::float8[])
        [1 + floor(random() * 10)::int]
    WHEN r < 0.35 THEN round((random() - 0.5) * 360e7) / 1e7
    WHEN r < 0.5 THEN floor((random() - 0.5) * 2e4)
    ELSE (random() - 0.5) * power(10::float8, floor(random() * 40) - 20) END + 0.0
  FROM (SELECT random() AS r) s $$;
CREATE FUNCTION pg_temp.q_pt(dims text) RETURNS geometry LANGUAGE plpgsql VOLATILE AS $$
DECLARE p geometry := ST_MakePoint(pg_temp.q_num(), pg_temp.q_num(), pg_temp.q_num(), pg_temp.q_num());
BEGIN
  RETURN CASE dims WHEN 'XY' THEN ST_Force2D(p) WHEN 'XYZ' THEN ST_Force3DZ(p)
    WHEN 'XYM' THEN ST_Force3DM(p) ELSE p END;
END $$;
CREATE FUNCTION pg_temp.q_line(dims text, closed bool) RETURNS geometry LANGUAGE sql VOLATILE AS $$
  SELECT ST_MakeLine(CASE WHEN closed THEN pts || pts[1] ELSE pts END) FROM (SELECT ARRAY(
    SELECT pg_temp.q_pt(dims) FROM generate_series(0, 1 + closed::int + (random() * 3)::int)) AS pts) s $$;
CREATE FUNCTION pg_temp.q_geom(kind int, dims text, depth int) RETURNS geometry LANGUAGE plpgsql AS $$
DECLARE parts geometry[];
BEGIN
  IF random() < 0.1 THEN
    RETURN ((ARRAY['POINT', 'LINESTRING', 'POLYGON', 'MULTIPOINT', 'MULTILINESTRING', 'MULTIPOLYGON',
      'GEOMETRYCOLLECTION'])[kind] || ' ' || ltrim(dims, 'XY') || ' EMPTY')::geometry;
  END IF;
  CASE kind
    WHEN 1 THEN RETURN pg_temp.q_pt(dims);
    WHEN 2 THEN RETURN pg_temp.q_line(dims, false);
    WHEN 3 THEN RETURN ST_MakePolygon(pg_temp.q_line(dims, true),
      ARRAY(SELECT pg_temp.q_line(dims, true) FROM generate_series(1, (random() * 2)::int)));
    ELSE
      parts := ARRAY(SELECT pg_temp.q_geom(CASE WHEN kind < 7 THEN kind - 3
          ELSE 1 + floor(random() * CASE WHEN depth < 3 THEN 7 ELSE 6 END)::int END, dims, depth + 1)
        FROM generate_series(0, (random() * 3)::int));
      RETURN CASE WHEN kind < 7 THEN ST_Collect(parts) ELSE ST_ForceCollection(ST_Collect(parts)) END;
  END CASE;
END $$;
CREATE FUNCTION pg_temp.q_same(a geometry, b geometry) RETURNS bool LANGUAGE sql AS $$
  SELECT ST_OrderingEquals(a, b) AND ST_SRID(a) = ST_SRID(b) AND ST_Zmflag(a) = ST_Zmflag(b) $$;
CREATE TEMP TABLE q_geoms AS
  SELECT i AS id, ST_SetSRID(pg_temp.q_geom(1 + i % 7, (ARRAY['XY', 'XYZ', 'XYM', 'XYZM'])[1 + i / 7 % 4], 0),
    (ARRAY[0, 0, 4326, 3857, 2154, 1, 999999])[1 + floor(random() * 7)::int]) AS g
  FROM generate_series(0, 2799) i;
"""

# Every form PostGIS writes of a geometry; `g` itself arrives as EWKB in a binary cursor.
FORMS = """
SELECT id, ST_SRID(g) AS srid, ST_Zmflag(g) AS zm, g AS ewkb, ST_AsEWKB(g, 'XDR') AS ewkb_xdr,
  ST_AsBinary(g, 'NDR') AS iso, ST_AsBinary(g, 'XDR') AS iso_xdr, ST_AsEWKB(ST_GeomFromWKB(ST_AsBinary(g))) AS iso_read,
  ST_AsHEXEWKB(g, 'NDR') AS hex, ST_AsHEXEWKB(g, 'XDR') AS hex_xdr,
  ST_AsEWKT(g, 40) AS ewkt, ST_AsText(g, 40) AS text,
  ST_AsEWKB(ST_SetSRID(g, 3857), 'NDR') AS set_ndr, ST_AsEWKB(ST_SetSRID(g, 3857), 'XDR') AS set_xdr,
  ST_AsEWKB(ST_SetSRID(g, 0), 'NDR') AS strip_ndr, ST_AsEWKB(ST_SetSRID(g, 0), 'XDR') AS strip_xdr
FROM q_geoms ORDER BY id
"""


@pytest.fixture(scope="module")
def rows(pg):
    from psycopg.rows import namedtuple_row

    pg.execute(GENERATOR)
    return pg.cursor(binary=True, row_factory=namedtuple_row).execute(FORMS).fetchall()


def simple(r):
    """Point, LineString and Polygon headers are patched in their byte order."""
    return r.id % 7 < 3


def ewkb_or_none(text):
    try:
        return quorvel.wkt_to_wkb(text)
    except ValueError:
        return None


def reads_every_form(r):
    ewkt, plain = quorvel.wkb_to_wkt(r.ewkb), quorvel.wkb_to_wkt(r.ewkb, srid=False)
    prefix = f"SRID={r.srid};" if r.srid else ""
    # PostGIS writes a collection of empty members as an empty one in ISO WKB: what
    # PostGIS reads back from its ISO WKB is the judge there.
    return (ewkt == prefix + plain and quorvel.wkb_to_wkt_split_srid(r.ewkb) == (plain, r.srid or None)
            and {quorvel.wkb_to_wkt(r.ewkb_xdr), quorvel.hex_wkb_to_wkt(r.hex), quorvel.to_wkt(r.hex_xdr)} == {ewkt}
            and {quorvel.wkb_to_wkt(r.iso), quorvel.to_wkt(r.iso_xdr)} == {quorvel.wkb_to_wkt(r.iso_read)})


CHECKS = {
    "reads-ewkb-iso-and-hex-in-both-orders": reads_every_form,
    # An SRID of 0 is unknown to both, so the prefix can always be written.
    "ewkb-from-iso-text-is-postgis-ewkb": lambda r: (
        quorvel.wkt_to_wkb(f"SRID={r.srid};{r.text}") == r.ewkb
        and quorvel.wkt_to_hex_wkb(f"SRID={r.srid};{r.text}") == r.hex),
    # ST_AsEWKT gives Z and M data no tag: refused, or read as other bytes ("POINT EMPTY"
    # for POINT Z EMPTY); XY EWKT reads to PostGIS's bytes.
    "ewkt-equal-for-xy-only": lambda r: (ewkb_or_none(r.ewkt) == r.ewkb) == (r.zm == 0),
    "header-srid-is-st-srid": lambda r: (
        quorvel.wkb_header_srid(r.ewkb) == quorvel.wkb_header_srid(r.ewkb_xdr)
        == quorvel.wkb_header_srid(r.hex) == (r.srid or None)),
    "to-ewkb-header-is-st-setsrid": lambda r: (
        quorvel.to_ewkb_header(r.ewkb, 3857) == r.set_ndr
        and (r.iso_read != r.strip_ndr or quorvel.to_ewkb_header(r.iso, 3857) == r.set_ndr)
        and quorvel.to_ewkb_header(r.ewkb_xdr, 3857) == (r.set_xdr if simple(r) else r.set_ndr)
        and quorvel.to_ewkb_header(r.hex_xdr, 3857) == (r.set_xdr if simple(r) else r.set_ndr).hex().upper()),
    "to-wkb-no-srid-header-is-st-setsrid-0": lambda r: (
        quorvel.to_wkb_no_srid_header(r.ewkb) == r.strip_ndr
        and quorvel.to_wkb_no_srid_header(r.ewkb_xdr) == (r.strip_xdr if simple(r) else r.strip_ndr)),
}


@pytest.mark.parametrize("check", CHECKS.values(), ids=CHECKS.keys())
def test_every_postgis_geometry(rows, check):
    assert len(rows) == 2800
    assert [(r.id, r.text[:60]) for r in rows if not check(r)][:5] == []


def test_postgis_reads_what_quorvel_writes(pg, rows):
    ewkt = [quorvel.wkb_to_wkt(r.ewkb) for r in rows]
    ewkb = [quorvel.wkt_to_wkb(t) for t in ewkt]
    hexes = [quorvel.to_hex_wkb(t) for t in ewkt]
    bad = pg.execute(
        "SELECT id, ST_AsEWKT(g), q.ewkt FROM q_geoms"
        " JOIN unnest(%s::int[], %s::text[], %s::bytea[], %s::text[]) AS q(id, ewkt, ewkb, hex) USING (id)"
        " WHERE NOT (pg_temp.q_same(ST_GeomFromEWKT(q.ewkt), g) AND pg_temp.q_same(ST_GeomFromEWKB(q.ewkb), g)"
        " AND pg_temp.q_same(q.hex::geometry, g))",
        [[r.id for r in rows], ewkt, ewkb, hexes]).fetchall()
    assert bad[:5] == []


# --- where quorvel differs from PostGIS on purpose -------------------------------


def one(pg, sql, *params):
    return pg.cursor(binary=True).execute(sql, params).fetchone()


def test_negative_zero_keeps_its_sign_in_binary_only(pg):
    point, multi, text, set_multi = one(
        pg, "SELECT ST_AsEWKB('POINT(-0 1)'::geometry), ST_AsEWKB(m), ST_AsText(m), ST_AsEWKB(ST_SetSRID(m, 4326))"
        " FROM (SELECT 'MULTIPOINT(-0 1)'::geometry AS m) s")
    assert quorvel.wkt_to_wkb("POINT(-0 1)") == point
    assert (quorvel.wkb_to_wkt(multi), text) == ("MULTIPOINT ((0 1))", "MULTIPOINT((0 1))")
    # A collection's header is rewritten through text, which has no negative zero.
    assert quorvel.to_ewkb_header(multi, 4326) == quorvel.wkt_to_wkb("SRID=4326;MULTIPOINT(0 1)") != set_multi


def test_nesting_deeper_than_128_levels_is_refused(pg):
    deep = "GEOMETRYCOLLECTION (" * 128 + "POINT (1 2)" + ")" * 128
    ok = deep[len("GEOMETRYCOLLECTION ("):-1]
    ewkb_ok, ewkb_deep = one(pg, "SELECT ST_AsEWKB(%s::text::geometry), ST_AsEWKB(%s::text::geometry)", ok, deep)
    assert quorvel.wkb_to_wkt(ewkb_ok) == ok and quorvel.wkt_to_wkb(ok) == ewkb_ok
    message = "geometry nesting exceeds maximum depth of 128"
    with pytest.raises(ValueError, match=f"invalid WKB: {message}"):
        quorvel.wkb_to_wkt(ewkb_deep)
    with pytest.raises(ValueError, match=f"invalid WKT: {message}"):
        quorvel.wkt_to_wkb(deep)


def test_non_finite_coordinates_are_written_but_not_read(pg):
    ewkb, text = one(pg, "SELECT ST_AsEWKB(p), ST_AsText(p) FROM ST_MakePoint('NaN', 'Infinity', '-Infinity') p")
    assert (quorvel.wkb_to_wkt(ewkb), text) == ("POINT Z (NaN inf -inf)", "POINT Z (NaN Infinity -Infinity)")
    assert ewkb_or_none(text) is ewkb_or_none(quorvel.wkb_to_wkt(ewkb)) is None


def test_srids_beyond_postgis_range_are_kept(pg):
    ewkb = quorvel.wkt_to_wkb("SRID=1000000;POINT(1 2)")
    assert quorvel.wkb_header_srid(ewkb) == 1000000
    assert one(pg, "SELECT ST_SRID(ST_GeomFromEWKB(%s))", ewkb) == (999001,)


def test_iso_wkb_of_empty_members_is_an_empty_collection(pg):
    iso, ewkb = one(pg, "SELECT ST_AsBinary(m), ST_AsEWKB(m) FROM (SELECT 'MULTIPOINT(EMPTY)'::geometry AS m) s")
    assert (quorvel.wkb_to_wkt(iso), quorvel.wkb_to_wkt(ewkb)) == ("MULTIPOINT EMPTY", "MULTIPOINT (EMPTY)")


@pytest.mark.thread_unsafe(reason="doctest replaces sys.stdout, one for the whole process")
def test_guide(postgis_dsn):
    import psycopg

    guide = sessions("postgis")
    assert list(guide) == ["postgis.md"]
    with psycopg.connect(postgis_dsn, autocommit=True) as conn:
        run_doctest(guide["postgis.md"], "postgis.md", {"conn": conn})
