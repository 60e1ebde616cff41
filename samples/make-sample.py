#!/usr/bin/env python3
"""Writes samples/sample.bmp: a deterministic 320 x 200 24-bit Windows bitmap
(colour gradients, a disc, stripes and a grey ramp) for the demos.

Usage: make-sample.py [OUT.bmp] [WIDTH HEIGHT]
Only the Python standard library is used; the same arguments always give
the same bytes.
"""
import math
import os
import struct
import sys


def pixel(x, y, w, h):
    """Colour (r, g, b) of pixel x, y of a w x h picture."""
    r = 255 * x // max(w - 1, 1)
    g = 255 * y // max(h - 1, 1)
    b = 128 + int(100 * math.sin(x / 23.0) * math.cos(y / 17.0))
    cx, cy, rad = w * 0.62, h * 0.45, min(w, h) * 0.28
    d = math.hypot(x - cx, y - cy)
    if d < rad:  # a shaded disc
        shade = 1.0 - 0.6 * d / rad
        r, g, b = int(250 * shade), int(200 * shade), int(40 * shade)
    if y > h * 0.85:  # a grey ramp along the bottom
        v = 255 * x // max(w - 1, 1)
        r = g = b = v
    elif x < w * 0.12 and (y // 8) % 2 == 0:  # stripes on the left
        r, g, b = 20, 30, 160
    return r, g, max(0, min(255, b))


def bmp_bytes(w, h):
    row_len = (3 * w + 3) // 4 * 4
    pad = b"\0" * (row_len - 3 * w)
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(w):
            r, g, b = pixel(x, y, w, h)
            row += bytes((b, g, r))
        rows.append(bytes(row) + pad)
    data = b"".join(rows)
    # 14-byte file header: "BM", file size, two reserved, pixel offset.
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    # 40-byte information header; 2835 pixels per metre is 72 dots per inch.
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "sample.bmp")
    w, h = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (320, 200)
    with open(out, "wb") as f:
        f.write(bmp_bytes(w, h))


if __name__ == "__main__":
    main()
