"""The benchmark's generated coordinates: each kind holds what its rows claim."""

import collections
import importlib.util
import sys
from pathlib import Path

import pytest

# Loaded from its file: bench/ on sys.path would put its modules before the standard
# library's for the rest of the run (bench/profile.py before profile, which cProfile
# and with it PySpark import).
BENCH = Path(__file__).resolve().parent.parent / "bench"
_spec = importlib.util.spec_from_file_location("bench_data", BENCH / "data.py")
data = sys.modules[_spec.name] = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(data)


@pytest.mark.parametrize("value, digits", [
    (1.0, 1), (-250.0, 2), (0.1, 1), (0.30000000000000004, 17), (123.456, 6),
    (1e-7, 1), (-1.5e22, 2), (179.99999999999997, 17),
])
def test_significant_digits(value, digits):
    assert data.significant_digits(value) == digits


def test_kinds():
    ords = {k: [v for xy in data.coordinates(k, 1700) for v in xy] for k in data.KINDS}
    assert all(0 <= v < 1 for v in ords["unit"])
    assert all(abs(v) <= 180 for k in ("lonlat", "random") for v in ords[k])
    assert all(round(v, 7) == v for v in ords["lonlat"])
    # mixed: every count of significant digits from 1 to 17, each about equally often
    counts = collections.Counter(data.significant_digits(v) for v in ords["mixed"])
    assert sorted(counts) == list(range(1, 18))
    assert min(counts.values()) > 3400 / 17 * 0.75
    assert all(0.1 <= abs(v) < 1000 for v in ords["mixed"])
