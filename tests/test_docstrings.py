"""The documentation that help() shows, compared with tests/data/docstrings.json."""

import json
import pathlib

import pytest

import quorvel

EXPECTED = json.loads(
    (pathlib.Path(__file__).parent / "data" / "docstrings.json").read_text(encoding="utf-8")
)
NAMES = list(EXPECTED)


def test_expected_table_covers_every_function_in_order():
    assert NAMES == quorvel.__all__


@pytest.mark.parametrize("name", NAMES)
def test_doc_text_exact(name):
    assert getattr(quorvel, name).__doc__ == EXPECTED[name]["doc"]


@pytest.mark.parametrize("name", NAMES)
def test_text_signature(name):
    signature = EXPECTED[name]["signature"]
    assert signature.startswith(name + "(")
    assert getattr(quorvel, name).__text_signature__ == signature[len(name):]


@pytest.mark.parametrize("name", NAMES)
def test_no_line_ends_with_space_and_no_trailing_newline(name):
    doc = getattr(quorvel, name).__doc__
    assert not doc.endswith("\n")
    assert [line for line in doc.split("\n") if line.endswith((" ", "\t"))] == []
