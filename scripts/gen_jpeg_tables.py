#!/usr/bin/env python3
"""Prints the scale-factor tables of the JPEG codec as C++ hex-float literals.

Entry (u, v) of the inverse table is s(u) * s(v) / 8 and of the forward table
1 / (8 * s(u) * s(v)), with s(0) = 1 and s(k) = sqrt(2) * cos(k * pi / 16). The values are
computed with 60 significant digits and rounded once, to nearest-even single precision, so
that the committed tables do not depend on any machine's libm.

Usage: scripts/gen_jpeg_tables.py > /tmp/tables.txt, then paste into jpeg/jpeg_tables.cpp.
"""
from decimal import Decimal, getcontext
from fractions import Fraction

getcontext().prec = 60


def pi():
    # Machin: pi = 16 atan(1/5) - 4 atan(1/239).
    def atan_inv(n):
        x = Decimal(1) / n
        x2 = x * x
        total, term, k, sign = Decimal(0), x, 1, 1
        while term != 0:
            total += sign * term / k
            term *= x2
            k += 2
            sign = -sign
        return total
    return 16 * atan_inv(5) - 4 * atan_inv(239)


def cos(x):
    total, term, n = Decimal(1), Decimal(1), 0
    while True:
        n += 2
        term = -term * x * x / (n * (n - 1))
        if abs(term) < Decimal(10) ** -58:
            return total
        total += term


def to_float32(value):
    """Nearest (ties to even) binary32 value of a positive Fraction, as a Fraction."""
    exponent = 0
    while value >= 2:
        value /= 2
        exponent += 1
    while value < 1:
        value *= 2
        exponent -= 1
    scaled = value * (1 << 23)
    mantissa = scaled.numerator // scaled.denominator
    rest = scaled - mantissa
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and mantissa % 2 == 1):
        mantissa += 1
    return mantissa, exponent - 23


def hex_literal(mantissa, exponent):
    while mantissa % 2 == 0 and mantissa > 0:
        mantissa //= 2
        exponent += 1
    # Normalise to 0x1.xxxp form.
    bits = mantissa.bit_length() - 1
    frac = mantissa - (1 << bits)
    digits = (bits + 3) // 4
    frac <<= digits * 4 - bits
    text = "0x1p%+d" % (exponent + bits) if frac == 0 else \
        "0x1.%0*xp%+d" % (digits, frac, exponent + bits)
    return text + "f"


def table(function):
    rows = []
    for u in range(8):
        rows.append(", ".join(hex_literal(*to_float32(Fraction(function(u, v)))) for v in range(8)))
    return "\n".join("    " + r + "," for r in rows)


PI = pi()
SQRT2 = Decimal(2).sqrt()
s = [Decimal(1)] + [SQRT2 * cos(k * PI / 16) for k in range(1, 8)]

print("// idctScaleTable: s(u) * s(v) / 8")
print(table(lambda u, v: s[u] * s[v] / 8))
print("// fdctScaleTable: 1 / (8 * s(u) * s(v))")
print(table(lambda u, v: 1 / (8 * s[u] * s[v])))
