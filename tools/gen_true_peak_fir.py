#!/usr/bin/env python3
"""Prints the true-peak limiter's interpolator table for dsp/true_peak_limiter.cpp.

Phase k (1..7) estimates the signal k/8 of the way from x[m] to x[m+1] from
x[m-5] .. x[m+6]: a sinc cut off at half the sampling rate, under a Kaiser
window (beta 5) six samples wide on each side, each phase scaled to unity
gain at DC. The kernel is the 8x polyphase split of one symmetric prototype,
so phase 8-k is phase k reversed; phase 0 would be x[m] itself.
"""
import math

HALF_TAPS = 6
PHASES = 8
BETA = 5.0


def bessel_i0(x):
    total = term = 1.0
    k = 1
    while term > 1e-22 * total:
        term *= (x / (2 * k)) ** 2
        total += term
        k += 1
    return total


def phase(k):
    f = k / PHASES
    taps = []
    for j in range(-HALF_TAPS + 1, HALF_TAPS + 1):
        t = j - f
        u = t / HALF_TAPS
        window = bessel_i0(BETA * math.sqrt(max(0.0, 1 - u * u))) / bessel_i0(BETA)
        taps.append(math.sin(math.pi * t) / (math.pi * t) * window)
    dc = math.fsum(taps)
    return [v / dc for v in taps]


def main():
    print("// Interpolator, 8 points per sample interval at 44.1 kHz: row k-1 gives the")
    print("// value k/8 of the way from w[5] to w[6] from w[0..11]; Kaiser-windowed sinc")
    print("// (beta 5) cut off at 22.05 kHz, each row unity at DC. tools/gen_true_peak_fir.py.")
    print("constexpr double kInterpolator[kPhases - 1][kTaps] = {")
    for k in range(1, PHASES):
        print("    {" + ", ".join(repr(v) for v in phase(k)) + "},")
    print("};")
    worst = max(math.fsum(abs(v) for v in phase(k)) for k in range(1, PHASES))
    print("// Largest sum of |tap| over the phases: %.17g" % worst)


if __name__ == "__main__":
    main()
