#!/usr/bin/env python3
"""Generate src/lib/powers_of_ten.hpp: 128-bit significands of the powers of ten.

Usage (from the repository root):

    python3 tools/gen_powers_of_ten.py [--output src/lib/powers_of_ten.hpp]

For every k in [MIN_POWER, MAX_POWER] the table holds the 128 leading bits of 10^k,
rounded down: the integer s with 2^127 <= s < 2^128 and

    s <= 10^k * 2^(-b) < s + 1,   b = floor(k * log2(10)) - 127.

The value is exact (10^k = s * 2^b) for 0 <= k <= 55, where 5^k < 2^128; every other
entry is strictly below the true value.  Everything is computed with Python's
integers, so no rounding of floating point enters the table.

Both number directions use it: the shortest-digit formatter (decimal exponents
-292 to 324 for doubles) and the correctly rounded number reader (decimal
exponents -342 to 308).

Beside the table the header defines the logarithms that index it, as
multiply-and-shift formulas; each is checked here against exact integer
arithmetic over every argument that a double can give:

    floor_log2_pow10(k)                 floor(k * log2(10)),       MIN_POWER <= k <= MAX_POWER
    floor_log10_pow2(q)                 floor(q * log10(2)),       -1076 <= q <= 971
    floor_log10_three_quarters_pow2(q)  floor(log10(3/4 * 2^q)),   -1076 <= q <= 971
"""

from __future__ import annotations

import argparse
import os

MIN_POWER = -342
MAX_POWER = 324
# Binary exponents of doubles (significand scaled to an integer), with room.
MIN_BINARY = -1076
MAX_BINARY = 971

# (multiplier, subtrahend, shift) of each logarithm: (x * multiplier - subtrahend) >> shift.
LOG_FORMULAS = {
    "floor_log2_pow10": (3483293, 0, 20),
    "floor_log10_pow2": (315652, 0, 20),
    "floor_log10_three_quarters_pow2": (315653, 131005, 20),
}


def significand(k: int) -> tuple[int, int]:
    """The 128-bit significand of 10^k rounded down, and its binary exponent b."""
    if k >= 0:
        value = 10**k
        shift = value.bit_length() - 128
        s = value >> shift if shift >= 0 else value << -shift
        b = shift
    else:
        divisor = 10**-k
        # 2^(-b) / 10^-k lies in [2^127, 2^128) for exactly one b.
        b = -(127 + divisor.bit_length())
        s = (1 << -b) // divisor
        if s >= 1 << 128:
            b += 1
            s = (1 << -b) // divisor
    assert (1 << 127) <= s < (1 << 128), k
    return s, b


def floor_log2_pow10(k: int) -> int:
    """floor(k * log2(10)) with integers only."""
    if k >= 0:
        return (10**k).bit_length() - 1
    # floor(log2(10^k)) = -ceil(log2(10^-k)) for 10^-k not a power of two.
    return -((10**-k).bit_length())


def floor_log10_scaled_pow2(q: int, numerator: int, denominator: int) -> int:
    """floor(log10(numerator / denominator * 2^q)) with integers only."""
    # Compare 10^k with numerator * 2^q / denominator as integer fractions.
    def at_most(k: int) -> bool:  # 10^k <= numerator * 2^q / denominator
        left = denominator * 10**k if k >= 0 else denominator
        right = numerator * 2**q if q >= 0 else numerator
        if k < 0:
            right *= 10**-k
        if q < 0:
            left *= 2**-q
        return left <= right

    k = (q * 30103) // 100000 - 2
    while at_most(k + 1):
        k += 1
    assert at_most(k)
    return k


def check_log_formulas() -> None:
    exact = {
        "floor_log2_pow10": (range(MIN_POWER, MAX_POWER + 1), floor_log2_pow10),
        "floor_log10_pow2": (range(MIN_BINARY, MAX_BINARY + 1),
                             lambda q: floor_log10_scaled_pow2(q, 1, 1)),
        "floor_log10_three_quarters_pow2": (range(MIN_BINARY, MAX_BINARY + 1),
                                            lambda q: floor_log10_scaled_pow2(q, 3, 4)),
    }
    for name, (multiplier, subtrahend, shift) in LOG_FORMULAS.items():
        arguments, reference = exact[name]
        for x in arguments:
            assert (x * multiplier - subtrahend) >> shift == reference(x), (name, x)
            assert abs(x * multiplier - subtrahend) < 2**31, (name, x)


def render_log_formulas() -> str:
    ranges = {
        "floor_log2_pow10": ("k", "10^k", MIN_POWER, MAX_POWER),
        "floor_log10_pow2": ("q", "2^q", MIN_BINARY, MAX_BINARY),
        "floor_log10_three_quarters_pow2": ("q", "3/4 * 2^q", MIN_BINARY, MAX_BINARY),
    }
    out = []
    for name, (multiplier, subtrahend, shift) in LOG_FORMULAS.items():
        x, of, low, high = ranges[name]
        base = "2" if name == "floor_log2_pow10" else "10"
        minus = f" - {subtrahend}" if subtrahend else ""
        out.append(f"""\
// floor(log{base}({of})), exact for {low} <= {x} <= {high}.
constexpr int {name}(int {x}) noexcept {{
    return ({x} * {multiplier}{minus}) >> {shift};
}}
""")
    return "\n".join(out)


def render() -> str:
    rows = []
    for k in range(MIN_POWER, MAX_POWER + 1):
        s, b = significand(k)
        assert b == floor_log2_pow10(k) - 127, k
        exact = 0 <= k <= 55
        assert exact == (k >= 0 and (s << b if b >= 0 else s >> -b) == 10**k and
                         (b >= 0 or s % (1 << -b) == 0)), k
        rows.append(f"    {{0x{s >> 64:016X}u, 0x{s & (2**64 - 1):016X}u}},  // 10^{k}")
    body = "\n".join(rows)
    return f"""\
// Generated by tools/gen_powers_of_ten.py; do not edit.
//
// The 128 leading bits of the powers of ten 10^k, MIN_POWER_OF_TEN <= k <=
// MAX_POWER_OF_TEN, rounded down: POWERS_OF_TEN_128[k - MIN_POWER_OF_TEN] is the pair
// (high, low) of the integer s, 2^127 <= s < 2^128, with s <= 10^k * 2^-b < s + 1 for
// b = floor(k * log2(10)) - 127.  Exact for 0 <= k <= 55, below the true value for
// every other k.
#pragma once

#include <cstdint>

namespace quorvel {{

inline constexpr int MIN_POWER_OF_TEN = {MIN_POWER};
inline constexpr int MAX_POWER_OF_TEN = {MAX_POWER};
// The largest k for which the entry is exact.
inline constexpr int MAX_EXACT_POWER_OF_TEN = 55;

struct PowerOfTen128 {{
    std::uint64_t high;
    std::uint64_t low;
}};

inline constexpr PowerOfTen128 POWERS_OF_TEN_128[] = {{
{body}
}};

static_assert(sizeof POWERS_OF_TEN_128 / sizeof POWERS_OF_TEN_128[0] ==
              MAX_POWER_OF_TEN - MIN_POWER_OF_TEN + 1);

// The logarithms that index the table (an arithmetic right shift rounds towards
// minus infinity, as floor does).
{render_log_formulas()}
}}  // namespace quorvel
"""


def main() -> None:
    check_log_formulas()
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--output",
                        default=os.path.join(here, "..", "src", "lib", "powers_of_ten.hpp"))
    args = parser.parse_args()
    with open(args.output, "w", encoding="ascii", newline="\n") as f:
        f.write(render())


if __name__ == "__main__":
    main()
