"""The README's examples run as doctests, so the documentation stays true.

A block whose first line is "# requires: NAME" needs a service (a PostGIS server, a
process pool or cluster); the tests of that service run it instead.
"""

import doctest
import pathlib
import re

import pytest

import quorvel

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"
BLOCKS = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.S)
REQUIRES = re.compile(r"# requires: (\S+)\n")


def readme_blocks(requires=None):
    """The README's Python blocks that need `requires` (None: those that need nothing)."""
    found = []
    for block in BLOCKS:
        m = REQUIRES.match(block)
        if (m.group(1) if m else None) == requires:
            found.append(block)
    return found


PLAIN = readme_blocks()


@pytest.mark.parametrize("block", PLAIN, ids=[f"block-{i}" for i in range(len(PLAIN))])
def test_readme_example(block):
    test = doctest.DocTestParser().get_doctest(block, {"quorvel": quorvel}, "README", None, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert runner.failures == 0 and runner.tries > 0
