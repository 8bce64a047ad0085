#!/usr/bin/env python3
"""Prints the constant tables of dsp/cr_pow.cpp (needs mpmath).

Logarithm: the reduced argument z lies in [OFF, 2 OFF) as a bit pattern,
OFF = 0x3fe5980000000000 (about 0.6748); subinterval i holds the patterns
OFF + i * 2^44 .. OFF + (i + 1) * 2^44. invc is 1/(midpoint) rounded to 16
significant bits (exactly 1 for the subinterval holding 1.0), logc = -ln(invc)
as hi + lo with hi a multiple of 2^-42. Exponential: 2^(j/256) as a double-double.
"""
import struct
from mpmath import mp, mpf, log, exp, nint, ldexp, floor

mp.prec = 300


def bits_to_double(b):
    return struct.unpack('<d', struct.pack('<Q', b))[0]


def to_double(v):
    return float(v)  # mpmath rounds to nearest


def dd(v):
    hi = to_double(v)
    lo = to_double(v - mpf(hi))
    return hi, lo


def round_bits(v, bits):
    # round v (positive) to `bits` significant bits
    e = int(floor(log(v, 2)))
    q = ldexp(mpf(1), e - bits + 1)
    return nint(v / q) * q


OFF = 0x3fe5980000000000
rows = []
max_r = mpf(0)
for i in range(256):
    lo_b = OFF + i * (1 << 44)
    hi_b = OFF + (i + 1) * (1 << 44)
    a = mpf(bits_to_double(lo_b))
    b = mpf(bits_to_double(hi_b))
    if a <= 1 < b:
        invc = mpf(1)
    else:
        invc = round_bits(2 / (a + b), 16)
    assert to_double(invc) == invc
    max_r = max(max_r, abs(a * invc - 1), abs(b * invc - 1))
    logc = -log(invc)
    # hi is a multiple of 2^-42, like k * ln2hi, so that their sum is exact.
    h = to_double(nint(logc * 2**42) / mpf(2)**42)
    l = to_double(logc - h)
    rows.append((to_double(invc), h, l))

print('// max |r| = 2^%.4f' % float(log(max_r, 2)))
print('constexpr LogEntry kLogTable[256] = {')
for invc, h, l in rows:
    print('    {%s, %s, %s},' % (invc.hex(), h.hex(), l.hex()))
print('};')
print('constexpr ExpEntry kExpTable[256] = {')
for j in range(256):
    h, l = dd(mpf(2) ** (mpf(j) / 256))
    print('    {%s, %s},' % (h.hex(), l.hex()))
print('};')

ln2 = log(mpf(2))
# ln 2 with 42 significant bits: k * hi is exact for |k| < 2^11.
ln2hi = to_double(round_bits(ln2, 42))
print('ln2hi', ln2hi.hex(), 'ln2lo', to_double(ln2 - ln2hi).hex())
c = ln2 / 256
chi = to_double(round_bits(c, 34))
print('ln2/256 hi', chi.hex(), 'lo', to_double(c - chi).hex())
print('256/ln2', to_double(256 / ln2).hex())
# ln 2 as 32-bit limbs for the multiprecision path, 1280 fraction bits
F = 1280 + 64
v = int(floor(ln2 * 2**F))
limbs = []
for k in range(F // 32):
    limbs.append(v & 0xffffffff)
    v >>= 32
mp.prec = 1600
v = int(floor(log(mpf(2)) * mpf(2)**F))
limbs = []
for k in range(F // 32):
    limbs.append(v & 0xffffffff)
    v >>= 32
print('ln2 limbs (most significant first, fraction only):')
print(', '.join('0x%08x' % w for w in reversed(limbs)))
