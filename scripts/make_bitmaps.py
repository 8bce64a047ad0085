#!/usr/bin/env python3
"""Draws the two bitmaps of the dialog templates as 24-bit BMP files.

  111  about picture, 401 x 89 dialog units
  117  logo of the panel's top strip, 46 x 18 dialog units

The pixel sizes are those units at the templates' font, MS Sans Serif 8 at
96 dpi, whose dialog base units are 6 x 13 pixels: x = du * 6 / 4 and
y = du * 13 / 8, rounded to nearest as the dialog manager maps them.

Plain Python, integer arithmetic only, so that every machine draws the very
same bytes. Usage: make_bitmaps.py OUTPUT_DIR
"""
import os
import struct
import sys

BASE_X, BASE_Y = 6, 13


def du_to_px(du_x, du_y):
    # MulDiv rounding, as the dialog manager maps a rectangle.
    return (du_x * BASE_X * 2 + 4) // 8, (du_y * BASE_Y * 2 + 8) // 16


ABOUT_SIZE = du_to_px(401, 89)  # 602 x 145
LOGO_SIZE = du_to_px(46, 18)  # 69 x 29

# 5 x 7 capitals, digits and a few signs; each row is five bits, MSB left.
GLYPHS = {
    "A": ("01110", "10001", "10001", "11111", "10001", "10001", "10001"),
    "B": ("11110", "10001", "10001", "11110", "10001", "10001", "11110"),
    "C": ("01110", "10001", "10000", "10000", "10000", "10001", "01110"),
    "D": ("11110", "10001", "10001", "10001", "10001", "10001", "11110"),
    "E": ("11111", "10000", "10000", "11110", "10000", "10000", "11111"),
    "F": ("11111", "10000", "10000", "11110", "10000", "10000", "10000"),
    "G": ("01110", "10001", "10000", "10111", "10001", "10001", "01111"),
    "H": ("10001", "10001", "10001", "11111", "10001", "10001", "10001"),
    "I": ("01110", "00100", "00100", "00100", "00100", "00100", "01110"),
    "K": ("10001", "10010", "10100", "11000", "10100", "10010", "10001"),
    "L": ("10000", "10000", "10000", "10000", "10000", "10000", "11111"),
    "M": ("10001", "11011", "10101", "10101", "10001", "10001", "10001"),
    "N": ("10001", "11001", "10101", "10011", "10001", "10001", "10001"),
    "O": ("01110", "10001", "10001", "10001", "10001", "10001", "01110"),
    "P": ("11110", "10001", "10001", "11110", "10000", "10000", "10000"),
    "Q": ("01110", "10001", "10001", "10001", "10101", "10010", "01101"),
    "R": ("11110", "10001", "10001", "11110", "10100", "10010", "10001"),
    "S": ("01111", "10000", "10000", "01110", "00001", "00001", "11110"),
    "T": ("11111", "00100", "00100", "00100", "00100", "00100", "00100"),
    "U": ("10001", "10001", "10001", "10001", "10001", "10001", "01110"),
    "V": ("10001", "10001", "10001", "10001", "10001", "01010", "00100"),
    "W": ("10001", "10001", "10001", "10101", "10101", "10101", "01010"),
    "Y": ("10001", "10001", "01010", "00100", "00100", "00100", "00100"),
    "Z": ("11111", "00001", "00010", "00100", "01000", "10000", "11111"),
    "0": ("01110", "10001", "10011", "10101", "11001", "10001", "01110"),
    "1": ("00100", "01100", "00100", "00100", "00100", "00100", "01110"),
    "2": ("01110", "10001", "00001", "00010", "00100", "01000", "11111"),
    "5": ("11111", "10000", "11110", "00001", "00001", "10001", "01110"),
    "a": ("00000", "00000", "01110", "00001", "01111", "10001", "01111"),
    ".": ("00000", "00000", "00000", "00000", "00000", "01100", "01100"),
    "-": ("00000", "00000", "00000", "11111", "00000", "00000", "00000"),
    "/": ("00001", "00010", "00010", "00100", "01000", "01000", "10000"),
    " ": ("00000",) * 7,
}


class Canvas:
    def __init__(self, width, height, rgb):
        self.width, self.height = width, height
        self.px = [[rgb] * width for _ in range(height)]

    def put(self, x, y, rgb):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.px[y][x] = rgb

    def fill(self, x0, y0, x1, y1, rgb):
        for y in range(max(y0, 0), min(y1, self.height)):
            row = self.px[y]
            for x in range(max(x0, 0), min(x1, self.width)):
                row[x] = rgb

    def vertical_gradient(self, top, bottom):
        h = self.height - 1 or 1
        for y in range(self.height):
            rgb = tuple(top[i] + (bottom[i] - top[i]) * y // h for i in range(3))
            self.px[y] = [rgb] * self.width

    def frame(self, light, dark):
        for x in range(self.width):
            self.put(x, 0, light)
            self.put(x, self.height - 1, dark)
        for y in range(self.height):
            self.put(0, y, light)
            self.put(self.width - 1, y, dark)

    def text(self, x, y, s, scale, rgb, shadow=None):
        """Draws s with the 5 x 7 font, each dot scale x scale pixels; returns the end x."""
        for ch in s:
            rows = GLYPHS[ch]
            for gy, bits in enumerate(rows):
                for gx, bit in enumerate(bits):
                    if bit == "1":
                        if shadow is not None:
                            self.fill(x + gx * scale + 1, y + gy * scale + 1,
                                      x + gx * scale + scale + 1, y + gy * scale + scale + 1, shadow)
                        self.fill(x + gx * scale, y + gy * scale, x + gx * scale + scale, y + gy * scale + scale, rgb)
            x += 6 * scale
        return x

    def bmp(self):
        """24-bit bottom-up BMP with file header, rows padded to four bytes."""
        stride = (self.width * 3 + 3) & ~3
        pad = b"\0" * (stride - self.width * 3)
        body = bytearray()
        for y in range(self.height - 1, -1, -1):
            for r, g, b in self.px[y]:
                body += bytes((b, g, r))
            body += pad
        header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(body), 0, 0, 14 + 40)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, len(body), 3780, 3780, 0, 0)
        return header + info + bytes(body)


def text_width(s, scale):
    return len(s) * 6 * scale - scale


def meter_colour(level, top):
    """Green below 70 % of a meter, amber to 90 %, red above."""
    if level * 10 >= top * 9:
        return (235, 64, 52)
    if level * 10 >= top * 7:
        return (245, 190, 40)
    return (70, 210, 90)


def meter_bars(c, x0, y_bottom, heights, bar_w, gap, seg_h):
    """A row of segmented level bars, as on the panel's meters."""
    top = max(heights)
    for i, h in enumerate(heights):
        x = x0 + i * (bar_w + gap)
        level = 0
        while level + seg_h <= h:
            c.fill(x, y_bottom - level - seg_h + 1, x + bar_w, y_bottom - level, meter_colour(level + seg_h, top))
            level += seg_h


def triangle_sine(phase, period, amplitude):
    """Integer stand-in for a sine: a parabola per half period (Bhaskara-like shape)."""
    p = phase % period
    half = period // 2
    q = p % half
    v = 4 * amplitude * q * (half - q) // (half * half)
    return v if p < half else -v


def draw_about():
    w, h = ABOUT_SIZE
    c = Canvas(w, h, (0, 0, 0))
    c.vertical_gradient((10, 22, 48), (30, 62, 110))
    c.frame((120, 150, 200), (4, 10, 24))

    # Level bars on the left, rising toward the middle.
    heights = [30, 54, 78, 96, 108, 96, 72, 48]
    meter_bars(c, 18, 112, heights, 9, 4, 6)

    # Title and subtitle.
    x = c.text(140, 18, "QUORVANE", 5, (236, 242, 255), shadow=(6, 12, 30))
    c.text(x + 10, 18 + 5 * 7 - 3 * 7, "2.0a", 3, (150, 200, 255), shadow=(6, 12, 30))
    c.text(142, 66, "ON-AIR BROADCAST AUDIO PROCESSOR", 2, (190, 210, 240))

    # A programme waveform before and after processing: a loose envelope on
    # the left, a dense, levelled one on the right.
    y0 = 107
    c.fill(140, y0, w - 14, y0 + 1, (60, 90, 140))
    prev = None
    for x in range(140, w - 14):
        t = x - 140
        span = w - 14 - 140
        if t < span // 2:
            env = 3 + abs(triangle_sine(t, 150, 15))
        else:
            env = 18
        y = y0 + triangle_sine(t, 11, env)
        if prev is not None:
            lo, hi = min(prev, y), max(prev, y)
            for yy in range(lo, hi + 1):
                c.put(x, yy, (90, 220, 240))
        prev = y
    c.text(142, 133, "AGC - MULTIBAND - CLIPPER - FM/AM", 1, (150, 175, 215))
    return c


def draw_logo():
    w, h = LOGO_SIZE
    c = Canvas(w, h, (0, 0, 0))
    c.vertical_gradient((14, 30, 64), (34, 70, 124))
    c.frame((130, 160, 210), (4, 10, 24))
    c.text(5, 4, "QV", 3, (236, 242, 255), shadow=(4, 8, 20))
    meter_bars(c, 42, h - 4, [8, 14, 20, 16], 4, 2, 2)
    return c


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_bitmaps.py OUTPUT_DIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, canvas in (("about_111.bmp", draw_about()), ("logo_117.bmp", draw_logo())):
        data = canvas.bmp()
        path = os.path.join(out, name)
        # Rewrite only on change, so that the resource script is not rebuilt for nothing.
        try:
            with open(path, "rb") as f:
                if f.read() == data:
                    continue
        except OSError:
            pass
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
