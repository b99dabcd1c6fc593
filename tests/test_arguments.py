"""Decoding of the typed arguments: srid, the two flags and the str parameters."""

import enum
import struct
import types

import numpy as np
import pytest

import quorvel

OPTIONAL_TRUE = "srid=True is not valid; pass an integer SRID, False, or None"
OPTIONAL_TYPE = "srid must be None, False, or an integer"
REQUIRED_TRUE = "srid=True is not valid; pass an integer SRID or False"
REQUIRED_TYPE = "srid must be False or an integer"
RANGE = "srid is out of the allowed range: must fit in a 32-bit integer (-2147483648 to 2147483647)"

EWKB_4326 = struct.pack("<BIidd", 1, 0x20000001, 4326, 1.0, 2.0)
HEX_4326 = EWKB_4326.hex()
WKB_PLAIN = struct.pack("<BIdd", 1, 1, 1.0, 2.0)
WKB_SRID_0 = struct.pack("<BIidd", 1, 0x20000001, 0, 1.0, 2.0)

MIRRORED = "SRID=4326;POINT (1 2)"
STRIPPED = "POINT (1 2)"


def prefixed(n):
    return f"SRID={n};POINT (1 2)"


class HostileIndexInt(int):
    def __index__(self):
        raise RuntimeError("__index__ of an int must not be consulted")


class Color(enum.IntEnum):
    WEB_MERCATOR = 3857


def index_returning(value):
    class Indexable:
        def __index__(self):
            return value

    return Indexable()


class Boom(Exception):
    pass


class TypeErrorSubclass(TypeError):
    pass


def index_raising(exc):
    class Indexable:
        def __index__(self):
            raise exc

    return Indexable()


class GetattrRaises:
    def __getattr__(self, name):
        raise Boom(name)


class GetattrAttributeError:
    def __getattr__(self, name):
        raise AttributeError(name)


class Outer:
    class Inner:
        pass


def moduleless():
    """An instance of a class made where globals have no __name__: it has no __module__."""
    namespace = {"__builtins__": __builtins__}
    exec("X = type('X', (), {})", namespace)
    return namespace["X"]()


# --- srid accepted: the effect on the output ----------------------------------

ACCEPTED = [
    pytest.param(None, MIRRORED, id="None-mirrors"),
    pytest.param(False, STRIPPED, id="False-strips"),
    pytest.param(0, STRIPPED, id="zero-acts-as-strip"),
    pytest.param(-1, STRIPPED, id="minus-one-acts-as-strip"),
    pytest.param(-2147483648, STRIPPED, id="int32-min-acts-as-strip"),
    pytest.param(1, prefixed(1), id="one"),
    pytest.param(3857, prefixed(3857), id="set-overrides-input"),
    pytest.param(4326, MIRRORED, id="set-same-as-input"),
    pytest.param(2147483647, prefixed(2147483647), id="int32-max"),
    pytest.param(HostileIndexInt(3857), prefixed(3857), id="int-subclass-index-not-consulted"),
    pytest.param(HostileIndexInt(0), STRIPPED, id="int-subclass-zero"),
    pytest.param(Color.WEB_MERCATOR, prefixed(3857), id="IntEnum-member"),
    pytest.param(index_returning(3857), prefixed(3857), id="__index__-returns-int"),
    pytest.param(index_returning(-5), STRIPPED, id="__index__-returns-negative"),
    pytest.param(index_returning(HostileIndexInt(7)), prefixed(7),
                 id="__index__-returns-int-subclass"),
    pytest.param(types.SimpleNamespace(__index__=lambda: 4327), prefixed(4327),
                 id="instance-level-__index__"),
    pytest.param(np.int64(3857), prefixed(3857), id="numpy-int64"),
    pytest.param(np.uint8(7), prefixed(7), id="numpy-uint8"),
    pytest.param(np.int32(-1), STRIPPED, id="numpy-int32-negative"),
]


@pytest.mark.parametrize("srid, expected", ACCEPTED)
def test_srid_accepted_by_wkb_to_wkt(srid, expected):
    assert quorvel.wkb_to_wkt(EWKB_4326, srid=srid) == expected


@pytest.mark.parametrize("srid, expected", ACCEPTED)
def test_srid_accepted_by_to_wkt_on_ewkb(srid, expected):
    assert quorvel.to_wkt(EWKB_4326, srid) == expected


def test_srid_absent_mirrors():
    assert quorvel.wkb_to_wkt(EWKB_4326) == MIRRORED
    assert quorvel.wkb_to_wkt(WKB_PLAIN) == STRIPPED


@pytest.mark.parametrize(
    "srid, expected",
    [(None, "POINT(1 2)"), (False, "POINT(1 2)"), (0, "POINT(1 2)"), (-1, "POINT(1 2)"),
     (7, "SRID=7;POINT(1 2)"), (np.int16(7), "SRID=7;POINT(1 2)")],
)
def test_srid_on_plain_wkt_text(srid, expected):
    assert quorvel.to_wkt("POINT(1 2)", srid=srid) == expected


@pytest.mark.parametrize(
    "srid, has_srid",
    [(None, True), (False, False), (0, False), (-1, False), (4326, True)],
)
def test_srid_reaches_the_ewkb_writer(srid, has_srid):
    out = quorvel.wkt_to_wkb("SRID=4326;POINT(1 2)", srid=srid)
    word = struct.unpack_from("<I", out, 1)[0]
    assert bool(word & 0x20000000) == has_srid


# --- srid refused -------------------------------------------------------------

REFUSED = [
    pytest.param(True, OPTIONAL_TRUE, id="True"),
    pytest.param(2147483648, RANGE, id="int32-max-plus-one"),
    pytest.param(-2147483649, RANGE, id="int32-min-minus-one"),
    pytest.param(2**63, RANGE, id="beyond-C-long"),
    pytest.param(10**30, RANGE, id="ten-to-the-thirty"),
    pytest.param(-(10**30), RANGE, id="minus-ten-to-the-thirty"),
    pytest.param(HostileIndexInt(2**40), RANGE, id="int-subclass-out-of-range"),
    pytest.param(4326.0, OPTIONAL_TYPE, id="float"),
    pytest.param("4326", OPTIONAL_TYPE, id="str"),
    pytest.param(b"4326", OPTIONAL_TYPE, id="bytes"),
    pytest.param([4326], OPTIONAL_TYPE, id="list"),
    pytest.param(object(), OPTIONAL_TYPE, id="object"),
    pytest.param(np.float64(4326), OPTIONAL_TYPE, id="numpy-float64"),
    pytest.param(np.uint64(2**63), RANGE, id="numpy-uint64-out-of-range"),
    pytest.param(index_returning(True), OPTIONAL_TYPE, id="__index__-returns-True"),
    pytest.param(index_returning(False), OPTIONAL_TYPE, id="__index__-returns-False"),
    pytest.param(index_returning(4326.0), OPTIONAL_TYPE, id="__index__-returns-float"),
    pytest.param(index_returning("4326"), OPTIONAL_TYPE, id="__index__-returns-str"),
    pytest.param(index_returning(2**40), RANGE, id="__index__-returns-2**40"),
    pytest.param(index_returning(10**30), RANGE, id="__index__-returns-10**30"),
    pytest.param(GetattrAttributeError(), OPTIONAL_TYPE, id="__getattr__-AttributeError"),
    pytest.param(types.SimpleNamespace(), OPTIONAL_TYPE, id="namespace-without-__index__"),
]

OPTIONAL_SRID_CALLS = [
    pytest.param(lambda s: quorvel.wkb_to_wkt(EWKB_4326, srid=s), id="wkb_to_wkt"),
    pytest.param(lambda s: quorvel.wkt_to_wkb("POINT(1 2)", srid=s), id="wkt_to_wkb"),
    pytest.param(lambda s: quorvel.wkt_to_hex_wkb("POINT(1 2)", srid=s), id="wkt_to_hex_wkb"),
    pytest.param(lambda s: quorvel.hex_wkb_to_wkt(HEX_4326, srid=s), id="hex_wkb_to_wkt"),
    pytest.param(lambda s: quorvel.to_wkb(EWKB_4326, srid=s), id="to_wkb"),
    pytest.param(lambda s: quorvel.to_wkt("POINT(1 2)", srid=s), id="to_wkt"),
    pytest.param(lambda s: quorvel.to_hex_wkb(HEX_4326, srid=s), id="to_hex_wkb"),
]


@pytest.mark.parametrize("call", OPTIONAL_SRID_CALLS)
@pytest.mark.parametrize("srid, message", REFUSED)
def test_srid_refused_with_value_error(call, srid, message):
    with pytest.raises(ValueError) as info:
        call(srid)
    assert info.type is ValueError
    assert info.value.args == (message,)
    assert info.value.__cause__ is None
    assert info.value.__context__ is None


@pytest.mark.parametrize(
    "srid, message",
    [
        pytest.param(True, REQUIRED_TRUE, id="True"),
        pytest.param(None, REQUIRED_TYPE, id="None"),
        pytest.param(4326.0, REQUIRED_TYPE, id="float"),
        pytest.param("4326", REQUIRED_TYPE, id="str"),
        pytest.param(index_returning(True), REQUIRED_TYPE, id="__index__-returns-True"),
        pytest.param(2**31, RANGE, id="int32-max-plus-one"),
        pytest.param(10**30, RANGE, id="ten-to-the-thirty"),
    ],
)
@pytest.mark.parametrize("source", [EWKB_4326, HEX_4326, 5], ids=["bytes", "hex", "int"])
def test_to_ewkb_header_srid_messages(source, srid, message):
    with pytest.raises(ValueError) as info:
        quorvel.to_ewkb_header(source, srid)
    assert info.value.args == (message,)


@pytest.mark.parametrize("srid", [True, 10**30, 4326.0, index_returning(2**40)],
                         ids=["True", "overflow", "float", "__index__-overflow"])
def test_srid_error_inside_except_block_has_no_context(srid):
    try:
        raise KeyError("handled")
    except KeyError:
        with pytest.raises(ValueError) as info:
            quorvel.wkb_to_wkt(EWKB_4326, srid=srid)
    assert info.value.__context__ is None
    assert info.value.__cause__ is None
    assert not isinstance(info.value, OverflowError)


@pytest.mark.parametrize(
    "srid, exc_type",
    [
        pytest.param(index_raising(Boom("x")), Boom, id="__index__-raises-custom"),
        pytest.param(index_raising(TypeError("x")), TypeError, id="__index__-raises-TypeError"),
        pytest.param(index_raising(TypeErrorSubclass("x")), TypeErrorSubclass,
                     id="__index__-raises-TypeError-subclass"),
        pytest.param(index_raising(AttributeError("x")), AttributeError,
                     id="__index__-raises-AttributeError"),
        pytest.param(GetattrRaises(), Boom, id="__index__-lookup-raises-custom"),
    ],
)
def test_srid_index_exception_passes_unchanged(srid, exc_type):
    with pytest.raises(BaseException) as info:
        quorvel.to_wkb(EWKB_4326, srid=srid)
    assert info.type is exc_type


def test_srid_index_exception_passes_the_very_object():
    exc = Boom("same")
    with pytest.raises(Boom) as info:
        quorvel.wkb_to_wkt(EWKB_4326, srid=index_raising(exc))
    assert info.value is exc


def test_srid_decoded_before_source_is_acquired():
    with pytest.raises(ValueError, match="^srid=True"):
        quorvel.to_wkb(5, srid=True)
    with pytest.raises(ValueError, match="^srid=True"):
        quorvel.wkb_to_wkt("not a buffer", srid=True)


def test_wkt_checked_before_srid():
    with pytest.raises(TypeError, match="^argument 'wkt': 'int' object"):
        quorvel.wkt_to_wkb(5, srid=True)
    with pytest.raises(TypeError, match="^argument 'hex_wkb': 'int' object"):
        quorvel.hex_wkb_to_wkt(5, srid=True)


def test_normalize_wkt_decoded_before_srid():
    with pytest.raises(TypeError, match="^argument 'normalize_wkt'"):
        quorvel.to_wkt(5, srid=True, normalize_wkt=1)


# --- flags --------------------------------------------------------------------

FLAG_VALUES = [
    pytest.param(True, True, id="True"),
    pytest.param(False, False, id="False"),
    pytest.param(np.True_, True, id="numpy-True"),
    pytest.param(np.False_, False, id="numpy-False"),
    pytest.param(np.bool_(1), True, id="numpy-bool_-of-1"),
    pytest.param(np.array([True])[0], True, id="numpy-bool-from-array"),
]


@pytest.mark.parametrize("value, truth", FLAG_VALUES)
def test_normalize_wkt_accepted(value, truth):
    out = quorvel.to_wkt("  point(1 2) ", normalize_wkt=value)
    assert out == ("POINT (1 2)" if truth else "point(1 2)")


@pytest.mark.parametrize("value, truth", FLAG_VALUES)
def test_include_unknown_accepted(value, truth):
    assert quorvel.wkb_header_srid(WKB_SRID_0, include_unknown=value) == (0 if truth else None)


def test_flags_absent_are_false():
    assert quorvel.to_wkt("point(1 2)") == "point(1 2)"
    assert quorvel.wkb_header_srid(WKB_SRID_0) is None


FLAG_REFUSED = [
    pytest.param(0, "'int' object is not an instance of 'bool'", id="zero"),
    pytest.param(1, "'int' object is not an instance of 'bool'", id="one"),
    pytest.param(None, "'None' is not an instance of 'bool'", id="None"),
    pytest.param("yes", "'str' object is not an instance of 'bool'", id="str"),
    pytest.param("", "'str' object is not an instance of 'bool'", id="empty-str"),
    pytest.param(1.0, "'float' object is not an instance of 'bool'", id="float"),
    pytest.param([], "'list' object is not an instance of 'bool'", id="empty-list"),
    pytest.param(object(), "'object' object is not an instance of 'bool'", id="object"),
    pytest.param(Outer.Inner(), "'Outer.Inner' object is not an instance of 'bool'",
                 id="qualified-name"),
    pytest.param(moduleless(), "'X' object is not an instance of 'bool'", id="class-without-module"),
    pytest.param(np.int64(1), "'int64' object is not an instance of 'bool'", id="numpy-int64"),
    pytest.param(np.array([True]), "'ndarray' object is not an instance of 'bool'",
                 id="numpy-array"),
]


@pytest.mark.parametrize("value, message", FLAG_REFUSED)
def test_normalize_wkt_refused(value, message):
    with pytest.raises(TypeError) as info:
        quorvel.to_wkt("POINT(1 2)", normalize_wkt=value)
    assert info.type is TypeError
    assert info.value.args == ("argument 'normalize_wkt': " + message,)


@pytest.mark.parametrize("value, message", FLAG_REFUSED)
def test_include_unknown_refused(value, message):
    with pytest.raises(TypeError) as info:
        quorvel.wkb_header_srid(WKB_SRID_0, include_unknown=value)
    assert info.type is TypeError
    assert info.value.args == ("argument 'include_unknown': " + message,)


def _lookalike(truth):
    """A type whose module and name claim numpy's boolean; its __bool__ is ``truth``."""
    ns = {"__module__": "numpy"}
    if truth is not None:
        ns["__bool__"] = truth
    return type("bool_", (), ns)()


def _raise(exc):
    def method(self):
        raise exc

    return method


def test_numpy_bool_lookalike_uses_its_truth_slot():
    flag = _lookalike(lambda self: True)
    assert quorvel.to_wkt("point(1 2)", normalize_wkt=flag) == "POINT (1 2)"


def test_numpy_bool_lookalike_without_truth_slot():
    with pytest.raises(TypeError) as info:
        quorvel.to_wkt("point(1 2)", normalize_wkt=_lookalike(None))
    assert info.value.args == (
        "argument 'normalize_wkt': object of type '<class 'numpy.bool_'>' "
        "does not define a '__bool__' conversion",
    )


def test_truth_slot_type_error_is_wrapped_keeping_its_cause():
    cause = KeyError("why")
    err = TypeError("bad truth")
    err.__cause__ = cause
    with pytest.raises(TypeError) as info:
        quorvel.to_wkt("point(1 2)", normalize_wkt=_lookalike(_raise(err)))
    assert info.type is TypeError
    assert info.value.args == ("argument 'normalize_wkt': bad truth",)
    assert info.value.__cause__ is cause


@pytest.mark.parametrize("exc", [TypeErrorSubclass("sub"), Boom("boom")], ids=["subclass", "other"])
def test_truth_slot_other_exceptions_pass_unchanged(exc):
    with pytest.raises(BaseException) as info:
        quorvel.wkb_header_srid(WKB_SRID_0, include_unknown=_lookalike(_raise(exc)))
    assert info.value is exc


def test_flag_error_inside_except_block_has_no_context():
    try:
        raise KeyError("handled")
    except KeyError:
        with pytest.raises(TypeError) as info:
            quorvel.to_wkt("POINT(1 2)", normalize_wkt=None)
    assert info.value.__context__ is None


# --- str parameters ----------------------------------------------------------

STR_CALLS = [
    pytest.param(quorvel.wkt_to_wkb, "wkt", id="wkt_to_wkb"),
    pytest.param(quorvel.wkt_to_hex_wkb, "wkt", id="wkt_to_hex_wkb"),
    pytest.param(quorvel.wkt_to_wkb_split_srid, "wkt", id="wkt_to_wkb_split_srid"),
    pytest.param(quorvel.hex_wkb_to_wkt, "hex_wkb", id="hex_wkb_to_wkt"),
]


@pytest.mark.parametrize("func, name", STR_CALLS)
@pytest.mark.parametrize(
    "value, message",
    [
        pytest.param(b"POINT(1 2)", "'bytes' object is not an instance of 'str'", id="bytes"),
        pytest.param(bytearray(b"00"), "'bytearray' object is not an instance of 'str'",
                     id="bytearray"),
        pytest.param(5, "'int' object is not an instance of 'str'", id="int"),
        pytest.param(None, "'None' is not an instance of 'str'", id="None"),
        pytest.param(Outer.Inner(), "'Outer.Inner' object is not an instance of 'str'",
                     id="qualified-name"),
    ],
)
def test_str_parameter_refuses_other_types(func, name, value, message):
    with pytest.raises(TypeError) as info:
        func(value)
    assert info.type is TypeError
    assert info.value.args == (f"argument '{name}': {message}",)
    assert info.value.__cause__ is None


@pytest.mark.parametrize("func, name", STR_CALLS)
def test_str_parameter_with_lone_surrogate_raises_unicode_encode_error(func, name):
    with pytest.raises(UnicodeEncodeError):
        func("POINT(1 2)\udc80")
