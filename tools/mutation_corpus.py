#!/usr/bin/env python3
"""The differential corpus of `tools/mutation.py prove`: one fixed, seeded set of calls
of every module function, run against a build and written out, so that the outputs
of two builds can be compared byte for byte.

Usage (with the module to judge first on the path):

    python tools/mutation_corpus.py OUT [--seed S] [--scale N]

OUT gets one line per call: its number, the call in brief and its outcome (the result,
or the exception's type and arguments).  The calls:

- WKT texts: every kind and dimension, nested collections, numbers of every shape the
  reader has a path for (short and long fractions, 15 to 19 and more digits, zeros,
  exponents, signs, malformed tokens), every kind of white space between tokens (runs
  of ASCII spaces before Unicode ones among them), keywords in any case, SRID
  prefixes good and bad; then the same texts with a few bytes changed or cut short.
  Each goes through the WKT functions and, surrounded by white space, through the
  format-detecting ones.
- WKB inputs: every kind and dimension in both byte orders, members in the other
  order, EWKB flags and ISO codes, SRIDs, empties and NaN, random doubles, type words
  that read differently in the two orders, other markers; then with bytes changed,
  cut short or appended.  Each goes as bytes and as hex text (upper, lower, padded)
  through every function that takes it, the three header functions included.
- Argument forms: tests/test_leaks.py's catalogue of every function and argument
  form, and each of those calls again with every allocation of the interpreter made
  to fail in turn (where _testcapi is there); for those only the set of outcomes
  other than MemoryError is written, which does not depend on how many allocations a
  build makes.

--scale multiplies the number of generated inputs (default 1: about 2,600 texts and
2,900 WKB inputs, some 60,000 calls).
"""

from __future__ import annotations

import argparse
import array
import hashlib
import math
import pathlib
import random
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

import quorvel  # noqa: E402
from wkb_helpers import (  # noqa: E402
    BE,
    LE,
    ORDINATES,
    SRID_FLAG,
    geometrycollection,
    header,
    linestring,
    multilinestring,
    multipoint,
    multipolygon,
    point,
    polygon,
    raw_header,
    u32,
)

DIMS = ("XY", "XYZ", "XYM", "XYZM")
TAGS = {"XY": ("", ""), "XYZ": (" Z", " z", "  Z"), "XYM": (" M", " m", " \u00a0M"),
        "XYZM": (" ZM", " zm", "\t\nZM")}
KEYWORDS = ("POINT", "LINESTRING", "POLYGON", "MULTIPOINT", "MULTILINESTRING", "MULTIPOLYGON",
            "GEOMETRYCOLLECTION")
# White space between tokens: one space above all, other ASCII, Unicode of every UTF-8
# length, runs of ASCII spaces before Unicode ones, a vertical tab after a Unicode
# space (white space there only).
SPACES = [" "] * 12 + ["", "  ", "\t", "\n", " \r\n", "\u00a0", "\u3000", "\u2003", "\u0085",
                       "\u1680", "\u2028", "\u205f", "\u202f", " \u00a0", "  \u00a0",
                       "   \u3000", "\t \u2003 ", "\u3000\u000b", "\u00a0 \t\u3000  "]
TRIM = ["", " ", "  ", "\t\n", "\u00a0", "\u3000", "\u0085", "\u2029", "\u000b", " \u3000 ",
        "\u1680\u202f"]
# Bytes that a changed text gets: number bytes, separators, brackets, letters, white
# space, bytes beyond ASCII, NUL.
EDITS = list("0123456789.-+eE,() \tZMzmxS=;") + ["\u00e9", "\u00a0", "\u3000", "\u0301",
                                                 "\x00", "\x7f", "\U0001f600", "\u0430"]
SRID_PREFIXES = [""] * 12 + ["SRID=4326;", "srid=3857; ", "SRID=0;", "SRID=-1;",
                              "SRID=2147483647;", "SRID=-2147483648;", "SRID=5 ;", "SrId=0007;",
                              "SRID=4326\u3000;", "SRID=2147483648;", "SRID=;", "SRID=x;",
                              "SRID = 5;", "SRID=5"]
SRIDS = [None, None, None, False, 4326, 0, -1, 2147483647, -2147483648, 3857]


# --- numbers ---


def random_double(rng: random.Random) -> float:
    while True:
        (v,) = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))
        if math.isfinite(v):
            return v


def digits(rng: random.Random, n: int) -> str:
    return "".join(rng.choice("0123456789") for _ in range(n))


def number(rng: random.Random) -> str:
    """The text of one coordinate, of every shape the reader has a path for; once in
    a hundred, one that is out of range or malformed."""
    kind = rng.randrange(14) if rng.randrange(100) else rng.choice([14, 15])
    sign = rng.choice(["", "", "", "-", "+"])
    if kind < 5:  # lon/lat and other short decimals
        return sign + f"{rng.uniform(0, 180):.{rng.randint(0, 12)}f}"
    if kind < 8:  # shortest text of any double
        return repr(random_double(rng))
    if kind < 10:  # fractions of 15 to 19 digits and more, around the 16- and 32-byte steps
        whole = digits(rng, rng.randint(0, 4)).lstrip("0") or "0"
        return sign + whole + "." + digits(rng, rng.randint(12, 24) - len(whole))
    if kind == 10:  # integers of any length, leading zeros
        return sign + "0" * rng.randint(0, 3) + digits(rng, rng.randint(1, 25))
    if kind == 11:  # exponents
        mantissa = digits(rng, rng.randint(1, 20))
        point = rng.randint(0, len(mantissa))
        return (sign + mantissa[:point] + rng.choice([".", ""]) + mantissa[point:]
                + rng.choice("eE") + rng.choice(["", "+", "-", "-"]) + str(rng.randint(0, 300)))
    if kind == 12:
        if rng.randrange(2):  # zeros: beyond the exact powers, with long fractions
            return sign + rng.choice(["0", "0.", ".0", "00"]) + "0" * rng.randint(0, 22) + \
                rng.choice(["", "", "e100", "e-100", "E-30", "e300", "e-330"])
        return sign + "0." + digits(rng, rng.choice([30, 100, 800])) + rng.choice(["", "e5"])
    if kind == 13:  # tiny, near the ends of the range, special
        return sign + rng.choice(["1e-400", "2.4703282292062328e-324", "4.9406564584124654e-324",
                                  "1.7976931348623157e308", "9007199254740993", "-0", "5.", ".5",
                                  "0.30000000000000004", "2.2250738585072011e-308"])
    if kind == 14:  # out of range
        return sign + rng.choice(["1.7976931348623159e308", "1e309", "1" + "0" * 309])
    return rng.choice(["1-2", "1..2", "1e", "--1", "+-1", ".e5", "1e5.5", ".", "+", "-", "nan",
                       "inf", "1e+", "e5", "0x10", "1,5"])


# --- WKT ---


def space(rng: random.Random) -> str:
    return rng.choice(SPACES)


def keyword(rng: random.Random, word: str) -> str:
    return rng.choice([word, word, word.lower(), word.title(), word.capitalize()])


def position(rng: random.Random, dim: str) -> str:
    return rng.choice([" ", " ", space(rng) or " "]).join(number(rng)
                                                       for _ in range(ORDINATES[dim]))


def coordinates(rng: random.Random, dim: str, count: int) -> str:
    parts = [space(rng) + position(rng, dim) + space(rng) for _ in range(count)]
    return "(" + ",".join(parts) + ")"


def wkt_body(rng: random.Random, kind: str, dim: str, depth: int) -> str:
    if rng.randrange(8) == 0:
        return space(rng) + keyword(rng, "EMPTY")
    n = lambda: rng.choice([1, 2, 3, 5, rng.randint(1, 40)])  # noqa: E731
    if kind == "POINT":
        return space(rng) + "(" + space(rng) + position(rng, dim) + space(rng) + ")"
    if kind == "LINESTRING":
        return space(rng) + coordinates(rng, dim, n())
    if kind == "POLYGON":
        rings = [coordinates(rng, dim, n()) for _ in range(rng.randint(1, 3))]
        return space(rng) + "(" + ("," + space(rng)).join(rings) + ")"
    if kind == "MULTIPOINT":
        members = [rng.choice(["(" + position(rng, dim) + ")", position(rng, dim), "EMPTY"])
                   for _ in range(rng.randint(1, 4))]
        return space(rng) + "(" + ", ".join(members) + ")"
    if kind == "MULTILINESTRING":
        members = [coordinates(rng, dim, n()) for _ in range(rng.randint(1, 3))]
        return space(rng) + "(" + ", ".join(members) + ")"
    if kind == "MULTIPOLYGON":
        members = ["(" + coordinates(rng, dim, n()) + ")" for _ in range(rng.randint(1, 3))]
        return space(rng) + "(" + ", ".join(members) + ")"
    members = [wkt(rng, depth + 1, dim if dim != "XY" else rng.choice(DIMS))
               for _ in range(rng.randint(0, 3) if depth < 3 else 0)]
    if not members:
        return " EMPTY"
    return space(rng) + "(" + ("," + space(rng)).join(members) + ")"


def wkt(rng: random.Random, depth: int = 0, dim: str | None = None) -> str:
    dim = dim or rng.choice(DIMS)
    kind = rng.choice(KEYWORDS if depth < 3 else KEYWORDS[:6])
    return keyword(rng, kind) + rng.choice(TAGS[dim]) + wkt_body(rng, kind, dim, depth)


def changed_text(rng: random.Random, text: str) -> str:
    for _ in range(rng.randint(1, 3)):
        at = rng.randint(0, len(text))
        action = rng.randrange(4)
        if action == 0:
            text = text[:at] + rng.choice(EDITS) + text[at:]
        elif action == 1:
            text = text[:at] + text[at + rng.randint(1, 3):]
        elif action == 2:
            text = text[:at] + rng.choice(EDITS) + text[at + 1:]
        else:
            text = text[:at]
    return text


def wkt_inputs(rng: random.Random, count: int) -> list[str]:
    texts = []
    for _ in range(count):
        text = rng.choice(SRID_PREFIXES) + wkt(rng)
        texts.append(text)
        if rng.randrange(2) == 0:
            texts.append(changed_text(rng, text))
    # Nesting at the limit and past it; texts that end at each kind of token.
    for depth in (127, 128):
        texts.append("GEOMETRYCOLLECTION(" * depth + "POINT(1 2)" + ")" * depth)
    texts += ["POINT EMPTY", "POINT Z EMPTY", "POINT", "POINT Z", "POINT(1", "POINT(1 ",
              "POINT(1 2", "LINESTRING(1 2 ", "POINT(", "SRID=4326", "SRID=4326;", "",
              "MULTIPOINT(EMPTY", "POINT(1 2)", "0101000000", "ABC"]
    return texts


# --- WKB ---


def ordinates(rng: random.Random, dim: str) -> tuple:
    pick = lambda: rng.choice([random_double(rng), rng.uniform(-180, 180),  # noqa: E731
                               float(rng.randint(-5, 5)), math.nan, math.inf, -0.0, 5e-324])
    return tuple(pick() for _ in range(ORDINATES[dim]))


def wkb(rng: random.Random, depth: int = 0, dim: str | None = None, order: str | None = None,
        top: bool = True) -> bytes:
    dim = dim or rng.choice(DIMS)
    order = order or rng.choice([LE, BE])
    iso = rng.randrange(4) == 0
    srid = rng.choice([None, None, 4326, 0, -1, 2147483647]) if top or rng.randrange(6) == 0 \
        else None
    kw = {"dim": dim, "order": order, "srid": srid, "iso": iso}
    other = lambda: (BE if order == LE else LE) if rng.randrange(3) == 0 else order  # noqa: E731
    kind = rng.randrange(7 if depth < 3 else 6)
    line = lambda: [ordinates(rng, dim) for _ in range(rng.choice([0, 1, 2, 4, 30]))]  # noqa: E731
    if kind == 0:
        if rng.randrange(6) == 0:
            return point((math.nan,) * ORDINATES[dim], **kw)
        return point(ordinates(rng, dim), **kw)
    if kind == 1:
        return linestring(line(), **kw)
    if kind == 2:
        return polygon([line() for _ in range(rng.randint(0, 3))], **kw)
    members = rng.randint(0, 3)
    if kind == 3:
        return multipoint([point(ordinates(rng, dim), dim, other(), iso=iso)
                           for _ in range(members)], **kw)
    if kind == 4:
        return multilinestring([linestring(line(), dim, other(), iso=iso)
                                for _ in range(members)], **kw)
    if kind == 5:
        return multipolygon([polygon([line()], dim, other(), iso=iso) for _ in range(members)],
                            **kw)
    member_dim = lambda: rng.choice(DIMS) if dim == "XY" else dim  # noqa: E731
    return geometrycollection([wkb(rng, depth + 1, member_dim(), other(), False)
                               for _ in range(members)], **kw)


def crafted_wkb(rng: random.Random) -> bytes:
    """Headers that only a hand can make: type words of stray bits and of the other
    byte order, other markers, SRID flags without room, huge counts."""
    order = rng.choice([LE, BE])
    kind = rng.randrange(6)
    body = struct.pack(order + "3d", 1.0, 2.0, 3.0)[: 8 * rng.choice([0, 1, 2, 3])]
    if kind == 0:  # a word that reads 1 the other way round
        word = bytes.fromhex("00000001" if order == LE else "01000000")
        return bytes([1 if order == LE else 0]) + word + body
    if kind == 1:
        return raw_header(rng.getrandbits(32), order) + body
    if kind == 2:
        word = rng.choice([1, 2, 4, 7, 1001, 2002, 3003, 1007]) | rng.choice(
            [0, 0x00010000, 0x1FFF0000, SRID_FLAG, 0x10000000])
        srid = struct.pack(order + "i", 7) if word & SRID_FLAG and rng.randrange(2) else b""
        return raw_header(word, order) + srid + body
    if kind == 3:
        return bytes([rng.choice([2, 0x80, 0xFF, 1, 0])]) + point((1.0, 2.0), order=order)[1:]
    if kind == 4:
        return header(rng.randint(2, 7), order=order) + u32(0xFFFFFFFF, order) + body
    return point((1.0, 2.0), order=order, srid=rng.choice([None, 5]))[: rng.randint(0, 25)]


def changed_bytes(rng: random.Random, data: bytes) -> bytes:
    b = bytearray(data)
    for _ in range(rng.randint(1, 3)):
        action = rng.randrange(4)
        at = rng.randint(0, len(b))
        if action == 0 and at < len(b):
            b[at] = rng.choice([0, 1, 0xFF, rng.getrandbits(8)])
        elif action == 1:
            del b[at:]
        elif action == 2:
            b[at:at] = bytes([rng.getrandbits(8)])
        else:
            b += bytes(rng.randint(1, 9))
    return bytes(b)


def wkb_inputs(rng: random.Random, count: int) -> list[bytes]:
    out = []
    for _ in range(count):
        data = wkb(rng)
        out.append(data)
        if rng.randrange(3) == 0:
            out.append(changed_bytes(rng, data))
        if rng.randrange(5) == 0:
            out.append(crafted_wkb(rng))
    nested = geometrycollection([])
    for depth in range(2, 131):
        nested = geometrycollection([nested], order=rng.choice([LE, BE]))
        if depth in (127, 128, 129):
            out.append(nested)
    return out


def hex_forms(rng: random.Random, data: bytes) -> str:
    text = data.hex()
    form = rng.randrange(12)
    if form == 0:
        return text
    if form == 1:
        return "".join(c.upper() if rng.randrange(2) else c for c in text)
    if form == 2:
        return rng.choice(TRIM) + text.upper() + rng.choice(TRIM)
    if form == 3 and text:
        at = rng.randrange(len(text))
        return text[:at] + rng.choice("gG \u00e9x") + text[at + 1:]
    if form == 4:
        return text.upper()[: rng.randint(0, len(text))]
    return text.upper()


# --- the calls ---


def wkt_calls(rng: random.Random, text: str):
    srid = rng.choice(SRIDS)
    padded = rng.choice(TRIM) + text + rng.choice(TRIM)
    yield quorvel.wkt_to_wkb, (text,), {"srid": srid}
    yield quorvel.wkt_to_hex_wkb, (text,), {"srid": rng.choice(SRIDS)}
    yield quorvel.wkt_to_wkb_split_srid, (text,), {}
    yield quorvel.to_wkb, (padded,), {"srid": srid}
    yield quorvel.to_hex_wkb, (padded,), {"srid": rng.choice(SRIDS)}
    yield quorvel.to_wkt, (padded,), {"srid": srid, "normalize_wkt": True}
    yield quorvel.to_wkt, (padded,), {"srid": rng.choice(SRIDS)}


def wkb_calls(rng: random.Random, data: bytes):
    srid = rng.choice(SRIDS)
    text = hex_forms(rng, data)
    source = rng.choice([data, data, bytearray(data), memoryview(data),
                         array.array("B", data)])
    yield quorvel.wkb_to_wkt, (source,), {"srid": srid}
    yield quorvel.wkb_to_wkt_split_srid, (data,), {}
    yield quorvel.hex_wkb_to_wkt, (text,), {"srid": rng.choice(SRIDS)}
    yield quorvel.to_wkt, (rng.choice([data, text]),), {"srid": srid}
    yield quorvel.to_wkb, (data,), {"srid": rng.choice(SRIDS)}
    yield quorvel.to_wkb, (text,), {"srid": srid}
    yield quorvel.to_hex_wkb, (rng.choice([data, text]),), {"srid": rng.choice(SRIDS)}
    header_srid = rng.choice([4326, 0, -1, False, 2147483647, 3857])
    yield quorvel.to_ewkb_header, (rng.choice([data, text]), header_srid), {}
    yield quorvel.to_wkb_no_srid_header, (rng.choice([data, text]),), {}
    yield quorvel.wkb_header_srid, (rng.choice([data, text]),), {
        "include_unknown": rng.choice([False, True])}


def shortened(text: str) -> str:
    """A long outcome as its start and a digest of the whole."""
    if len(text) <= 200:
        return text
    return f"{text[:100]}... {len(text)} chars, sha1 {hashlib.sha1(text.encode()).hexdigest()}"


def outcome(func, args, kwargs) -> str:
    try:
        result = func(*args, **kwargs)
    except Exception as error:  # PanicException, a BaseException, ends the run
        return shortened(f"{type(error).__name__}{error.args!r}")
    if isinstance(result, (bytes, bytearray)):
        return shortened("b:" + result.hex())
    return shortened(repr(result))


def brief(func, args, kwargs) -> str:
    shown = []
    for a in args:
        if isinstance(a, (bytes, bytearray, memoryview, array.array)):
            shown.append(f"{type(a).__name__}:{bytes(a)[:40].hex()}")
        else:
            shown.append(repr(a)[:60])
    return f"{func.__name__}({', '.join(shown)}, {kwargs})"


def argument_form_calls():
    """test_leaks' catalogue: every function and argument form, with the exception each
    is expected to raise (None for a result)."""
    try:
        from test_leaks import BINDING, BUFFER, CONVERSION, SRID, SUCCESS
    except ImportError:  # numpy or pytest missing: the generated calls go on without
        return []
    calls = []
    for param in SUCCESS + BINDING + SRID + BUFFER + CONVERSION:
        case = param.values[0]
        args, kwargs = case.make()
        calls.append((case.id, case.func, args, kwargs, case.raises))
    return calls


def outcomes_under_failing_allocations(func, args, kwargs, raises) -> str:
    """The outcomes other than MemoryError of the call with its k-th allocation failing,
    alone and from there on, for every k (as tests/test_allocation_failure.py makes
    them fail): sorted, without counts."""
    from test_allocation_failure import RAISED_BY_PYTHON_CODE, python_attempt

    seen = set()

    def attempt(k, persistent):
        result, error, _ = python_attempt(func, args, kwargs, k, persistent)
        if isinstance(error, MemoryError):
            return False
        seen.add(f"{type(error).__name__}{error.args!r}" if error is not None
                 else "b:" + result.hex() if isinstance(result, bytes) else repr(result))
        return True

    # From the k-th on up to the first k the call gets through, then each alone.
    last = next((k for k in range(200) if attempt(k, True)), 200)
    if raises not in RAISED_BY_PYTHON_CODE:
        for k in range(last + 1):
            attempt(k, False)
    return " | ".join(sorted(seen))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("out")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--scale", type=float, default=1.0)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    texts = wkt_inputs(rng, int(1700 * args.scale))
    binaries = wkb_inputs(rng, int(2100 * args.scale))
    n = 0
    with open(args.out, "w", encoding="utf-8", errors="backslashreplace") as out:
        def write(label: str, result: str) -> None:
            nonlocal n
            out.write(f"{n}\t{label}\t{result}\n")
            n += 1

        for text in texts:
            for func, a, kw in wkt_calls(rng, text):
                write(brief(func, a, kw), outcome(func, a, kw))
        for data in binaries:
            for func, a, kw in wkb_calls(rng, data):
                write(brief(func, a, kw), outcome(func, a, kw))
        forms = argument_form_calls()
        for name, func, a, kw, _ in forms:
            write(name, outcome(func, a, kw))
        try:
            import _testcapi  # noqa: F401
        except ImportError:
            forms = []
        for name, func, a, kw, raises in forms:
            write(name + " with allocations failing", outcomes_under_failing_allocations(
                func, a, kw, raises))
    print(f"{len(texts)} texts, {len(binaries)} WKB inputs, {n} calls")
    return 0


if __name__ == "__main__":
    sys.exit(main())
