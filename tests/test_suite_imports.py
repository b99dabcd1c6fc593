"""Every file of the suite imports on Windows too, where the wheels' tests run it: no
module-level import of a POSIX-only module outside a try that catches its absence."""

import ast
import pathlib

import pytest

TESTS = pathlib.Path(__file__).parent
POSIX_ONLY = {"pwd", "grp", "resource", "fcntl", "termios"}


@pytest.mark.parametrize("path", sorted(TESTS.glob("*.py")), ids=lambda p: p.name)
def test_no_module_level_import_of_posix_only_modules(path):
    imported = set()
    for node in ast.parse(path.read_text(encoding="utf-8")).body:
        if isinstance(node, ast.Import):
            imported |= {alias.name.split(".")[0] for alias in node.names}
        elif isinstance(node, ast.ImportFrom) and node.module:
            imported.add(node.module.split(".")[0])
    assert not imported & POSIX_ONLY
