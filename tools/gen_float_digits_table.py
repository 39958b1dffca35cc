"""Generates src/json/text/float_digits_table.inc, the 128-bit powers of ten of the float writer.

Run: python tools/gen_float_digits_table.py > src/json/text/float_digits_table.inc

Besides the table it derives the multiply-shift logarithm constants and proves, with exact
rational arithmetic, the two facts the digit generator relies on:
  * every scaled value V = x * 2^q * 10^-k it computes is either an integer or lies farther than
    2^-67 from every integer, so a fraction below 2^-67 can only be the table's rounding error;
  * the table's error (g - G < 1) moves a scaled value up by less than 2^-68.
It fails loudly if either does not hold.
"""

import math
import sys
from fractions import Fraction

Q_MIN = -1074  # exponent of the smallest subnormal's unit
Q_MAX = 2046 - 1075  # exponent of the largest finite double's unit
HIDDEN = 1 << 52
STICKY_LIMIT = Fraction(1, 1 << 67)
MAX_SHIFT = 4


def floor_log(base: int, value: Fraction) -> int:
    """floor(log_base(value)) for a positive rational, exactly."""
    e = math.floor(math.log(value.numerator, base) - math.log(value.denominator, base))
    while Fraction(base) ** e > value:
        e -= 1
    while Fraction(base) ** (e + 1) <= value:
        e += 1
    return e


def floor_log10_pow2(q: int) -> int:
    return floor_log(10, Fraction(2) ** q)


def floor_log10_three_quarters_pow2(q: int) -> int:
    return floor_log(10, Fraction(3, 4) * Fraction(2) ** q)


def floor_log2_pow10(e: int) -> int:
    return floor_log(2, Fraction(10) ** e)


def fit_multiply_shift(exact: dict, slope: float, intercept: float = 0.0):
    """The smallest shift s with a multiplier m and offset o such that (x * m + o) >> s equals
    exact[x] for every x of the domain (Python's >> floors, like an arithmetic shift)."""
    for shift in range(8, 32):
        m = round(slope * (1 << shift))
        base = round(intercept * (1 << shift))
        for o in range(base - 2, base + 3):
            if all((x * m + o) >> shift == e for x, e in exact.items()):
                return m, o, shift
    raise SystemExit("no multiply-shift fits")


def power_table():
    """g(k) for k = K_MIN..K_MAX: 10^-k scaled into [2^127, 2^128), rounded up unless exact."""
    ks = set()
    for q in range(Q_MIN, Q_MAX + 1):
        ks.add(floor_log10_pow2(q))
        ks.add(floor_log10_three_quarters_pow2(q))
    k_min, k_max = min(ks), max(ks)
    table = []
    for k in range(k_min, k_max + 1):
        r = floor_log2_pow10(-k) - 127
        scaled = Fraction(10) ** -k / Fraction(2) ** r
        assert (1 << 127) <= scaled < (1 << 128)
        g = scaled.numerator // scaled.denominator
        if scaled.denominator != 1:
            g += 1
        assert g < (1 << 128)
        table.append(g)
    return k_min, k_max, table


def min_distance_to_integers(alpha: Fraction, x_max: int) -> Fraction:
    """min over 1 <= x <= x_max with x*alpha not an integer of the distance of x*alpha to Z."""
    p, r = alpha.numerator, alpha.denominator
    if r == 1:
        return Fraction(1)  # every multiple is an integer
    if r <= x_max:
        return Fraction(1, r)  # gcd(p, r) = 1, so some x hits every non-zero residue
    # Best approximations: for x below the next convergent's denominator, |x alpha - y| is at
    # least the last convergent's error.
    a, b = p, r
    q_prev, q_cur = 0, 1
    p_prev, p_cur = 1, a // b
    a, b = b, a - (a // b) * b
    while b != 0:
        term = a // b
        q_next = term * q_cur + q_prev
        if q_next > x_max:
            break
        p_prev, p_cur = p_cur, term * p_cur + p_prev
        q_prev, q_cur = q_cur, q_next
        a, b = b, a - term * b
    return abs(q_cur * alpha - p_cur)


def prove_bounds():
    worst = Fraction(1)
    for q in range(Q_MIN, Q_MAX + 1):
        k = floor_log10_pow2(q)
        h = q + floor_log2_pow10(-k) + 1
        assert 1 <= h <= MAX_SHIFT, (q, h)
        # x is 4c - 2, 4c or 4c + 2 for a significand c below 2^53: twice an integer y.
        alpha = 2 * Fraction(2) ** q / Fraction(10) ** k
        worst = min(worst, min_distance_to_integers(alpha, 2 * (2 * HIDDEN) + 1))
        if q > Q_MIN:  # the significand 2^52 has a closer lower neighbour
            k3 = floor_log10_three_quarters_pow2(q)
            h3 = q + floor_log2_pow10(-k3) + 1
            assert 1 <= h3 <= MAX_SHIFT, (q, h3)
            alpha3 = Fraction(2) ** q / Fraction(10) ** k3
            for x in (4 * HIDDEN - 1, 4 * HIDDEN, 4 * HIDDEN + 2):
                v = x * alpha3
                if v.denominator != 1:
                    frac = v - v.numerator // v.denominator
                    worst = min(worst, frac, 1 - frac)
    assert worst > STICKY_LIMIT, worst
    error_bound = Fraction((4 * 2 * HIDDEN + 2) << MAX_SHIFT, 1 << 128)
    assert error_bound < Fraction(1, 1 << 68)
    return worst


def main():
    qs = range(Q_MIN, Q_MAX + 1)
    m10, o10, s10 = fit_multiply_shift({q: floor_log10_pow2(q) for q in qs}, math.log10(2))
    m34, o34, s34 = fit_multiply_shift(
        {q: floor_log10_three_quarters_pow2(q) for q in qs}, math.log10(2), math.log10(0.75)
    )
    k_min, k_max, table = power_table()
    es = range(-k_max, -k_min + 1)
    m2, o2, s2 = fit_multiply_shift({e: floor_log2_pow10(e) for e in es}, math.log2(10))
    assert o10 == 0 and o2 == 0, "the plain logarithms need no offset"
    worst = prove_bounds()
    worst_log2 = math.log2(worst.numerator) - math.log2(worst.denominator)

    lines = [
        "// Generated by tools/gen_float_digits_table.py; do not edit.",
        "// POW10_128[k - kPow10MinExponent] is 10^-k scaled into [2^127, 2^128), rounded up",
        "// unless exact. The multiply-shift logarithms are exact over the doubles' exponents.",
        f"// No non-integer scaled value lies closer than 2^{worst_log2:.1f} to an integer.",
        f"inline constexpr int kPow10MinExponent = {k_min};",
        f"inline constexpr int kPow10MaxExponent = {k_max};",
        f"inline constexpr int kLog10Pow2Multiplier = {m10};",
        f"inline constexpr int kLog10Pow2Shift = {s10};",
        f"inline constexpr int kLog10ThreeQuartersPow2Multiplier = {m34};",
        f"inline constexpr int kLog10ThreeQuartersPow2Offset = {o34};",
        f"inline constexpr int kLog10ThreeQuartersPow2Shift = {s34};",
        f"inline constexpr int kLog2Pow10Multiplier = {m2};",
        f"inline constexpr int kLog2Pow10Shift = {s2};",
        "inline constexpr Uint128Parts POW10_128[] = {",
    ]
    lines += [f"    {{0x{g >> 64:016x}, 0x{g & ((1 << 64) - 1):016x}}}," for g in table]
    lines.append("};")
    sys.stdout.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
