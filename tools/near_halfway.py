#!/usr/bin/env python3
"""Every decimal n × 10^-K of at most 19 significant digits (n < 10^19) that lies
within a relative distance 2^-BITS of a halfway point between two subnormal doubles.

    python3 tools/near_halfway.py [BITS]      (BITS: 118 unless given)

The reader's one-product path settles a subnormal from a 128-bit product that lies
below the exact value by less than 2^-125 of it; only a decimal that close to a
halfway point can look like the halfway point's neighbour there.  Trying the 10^19
mantissas of each exponent is out of reach, so the search is the modular one of
Paxson's hard cases (V. Paxson, "A Program for Testing IEEE Decimal-Binary
Conversion", 1991): n × 10^-K lies within d above or below the halfway point
(2j + 1) × 2^-1075 when n × 2^1075 mod 2 × 10^K lies within d × n × 2^1075 of 10^K,
and the least n with a × n mod M in an interval follows from the same question for
M mod a and a, as in Euclid's algorithm, in a few dozen steps.  The search is
checked against trying every n on small moduli before it runs.

Prints each decimal found with its signed relative distance; none at 118 bits."""

import random
import sys
from fractions import Fraction

MAX_MANTISSA = 10**19 - 1


def least(a: int, m: int, low: int, high: int) -> int | None:
    """The least x >= 0 with low <= a × x mod m <= high (0 <= low <= high < m)."""
    a %= m
    if low == 0:
        return 0
    if a == 0:
        return None
    x = -(-low // a)
    if a * x <= high:
        return x
    # No multiple of a in [low, high]: a × x - m × y lands there for some y >= 1, and
    # the least y gives the least x; m × y mod a then lies in [-high, -low] mod a.
    y = least(m % a, a, (-high) % a, (-low) % a)
    if y is None:
        return None
    x = -(-(low + m * y) // a)
    return x if a * x - m * y <= high else None


def every(a: int, m: int, low: int, high: int, first: int, last: int) -> list[int]:
    """Every x in [first, last] with low <= a × x mod m <= high."""
    found = []
    while first <= last:
        base = a * first % m
        lo, hi = (low - base) % m, (high - base) % m
        if lo <= hi:
            t = least(a, m, lo, hi)
        else:  # the interval wraps past m
            ts = [t for t in (least(a, m, 0, hi), least(a, m, lo, m - 1)) if t is not None]
            t = min(ts, default=None)
        if t is None or first + t > last:
            break
        found.append(first + t)
        first += t + 1
    return found


def check_against_trying_every_n() -> None:
    rng = random.Random(1)
    for _ in range(5000):
        m = rng.randint(2, 300)
        a, low = rng.randrange(m), rng.randrange(m)
        high = rng.randint(low, m - 1)
        tried = [x for x in range(1, 3 * m) if low <= a * x % m <= high]
        assert every(a, m, low, high, 1, 3 * m - 1) == tried, (a, m, low, high)


def main() -> int:
    bits = int(sys.argv[1]) if len(sys.argv) > 1 else 118
    check_against_trying_every_n()
    found = []
    for k in range(300, 346):
        m, half = 2 * 10**k, 10**k
        # The decimals from a quarter of the least subnormal (below it, every value
        # rounds to zero) to twice the least normal double.
        first, last = max(1, half >> 1076), min(MAX_MANTISSA, half >> 1021)
        if first > last:
            continue
        width = (last << 1075) >> bits
        assert width < half
        for n in every(pow(2, 1075, m), m, half - width, half + width, first, last):
            distance = Fraction((n << 1075) % m - half, n << 1075)
            if abs(distance) <= Fraction(1, 2**bits):
                found.append((n, k, distance))
    for n, k, distance in found:
        print(f"{n}e-{k}  {float(distance):+.3e}")
    print(f"{len(found)} decimals of at most 19 digits within 2^-{bits} of a subnormal "
          f"halfway point")
    return 0


if __name__ == "__main__":
    sys.exit(main())
