"""Every call of tests/data/calls.json, made with the module built for the newest
CPython, gives the same outcome here: result, exception type, message, argument
count and cause.  The suite runs on each supported version (make test-pythons), so
the module built for each is held to one table."""

import json
import sys
from pathlib import Path

import pytest

import quorvel

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))
import gen_call_table  # noqa: E402

ROWS = json.loads((ROOT / "tests" / "data" / "calls.json").read_text())
VERSION = "%d.%d" % sys.version_info[:2]

# Outcomes whose text CPython writes itself and words differently on some versions,
# {call: {version: outcome}}.  None so far: every row, the interpreter's texts among
# them (a str with a lone surrogate, a released memoryview, a keyword that is not a
# str), reads the same on 3.11, 3.12 and 3.13.  The module's own texts never differ.
CPYTHON_TEXT: dict[str, dict[str, list]] = {}


@pytest.mark.parametrize("call, expected", ROWS, ids=[call for call, _ in ROWS])
def test_call_gives_the_tabled_outcome(call, expected):
    expected = CPYTHON_TEXT.get(call, {}).get(VERSION, expected)
    assert gen_call_table.outcome(call) == expected


def test_table_holds_the_calls_of_its_generator_and_every_function():
    assert [call for call, _ in ROWS] == gen_call_table.CALLS
    called = {call.split("(", 1)[0] for call in gen_call_table.CALLS}
    assert called == set(quorvel.__all__)
