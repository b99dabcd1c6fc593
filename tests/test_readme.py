"""The README's examples run as doctests, so the documentation stays true."""

import doctest
import pathlib
import re

import pytest

import quorvel

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"
BLOCKS = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.S)


@pytest.mark.parametrize("block", BLOCKS, ids=[f"block-{i}" for i in range(len(BLOCKS))])
def test_readme_example(block):
    test = doctest.DocTestParser().get_doctest(block, {"quorvel": quorvel}, "README", None, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert runner.failures == 0 and runner.tries > 0
