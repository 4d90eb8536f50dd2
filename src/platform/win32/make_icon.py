#!/usr/bin/env python3
"""Draws the engine's icon: a night-blue rounded square with a golden ball and its bounce arc.

    make_icon.py OUT.ico

Each size is drawn from the same geometry (supersampled for smooth edges) and stored as a 32-bit
BMP image with alpha, the form every Windows since XP reads.
"""
import math
import struct
import sys

SIZES = (16, 24, 32, 48)
SAMPLES = 4


def coverage(size, x, y):
    """Colour (r, g, b, a) of one pixel, averaged over SAMPLES x SAMPLES points."""
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            u = (x + (sx + 0.5) / SAMPLES) / size  # 0..1, left to right
            v = (y + (sy + 0.5) / SAMPLES) / size  # 0..1, top to bottom
            r, g, b, a = shade(u, v)
            acc[0] += r * a
            acc[1] += g * a
            acc[2] += b * a
            acc[3] += a
    n = SAMPLES * SAMPLES
    alpha = acc[3] / n
    if alpha == 0:
        return (0, 0, 0, 0)
    return tuple(int(round(c / acc[3])) for c in acc[:3]) + (int(round(alpha * 255)),)


def shade(u, v):
    # Rounded square.
    corner = 0.18
    dx = max(abs(u - 0.5) - (0.5 - corner), 0.0)
    dy = max(abs(v - 0.5) - (0.5 - corner), 0.0)
    if math.hypot(dx, dy) > corner:
        return (0, 0, 0, 0)
    # The ball, upper right.
    if math.hypot(u - 0.66, v - 0.36) < 0.2:
        light = max(0.0, 1.0 - math.hypot(u - 0.6, v - 0.3) / 0.25)
        return (int(230 + 25 * light), int(170 + 70 * light), int(40 + 60 * light), 1.0)
    # Its bounce arc, a parabola from the lower left.
    arc_v = 0.9 - 2.2 * (u - 0.2) * (0.95 - u) * 1.6
    if 0.1 < u < 0.5 and abs(v - arc_v) < 0.045:
        return (120, 170, 230, 1.0)
    # Night-blue ground, lighter towards the bottom.
    return (int(20 + 30 * v), int(30 + 40 * v), int(70 + 70 * v), 1.0)


def bmp_image(size):
    rows = []
    for y in reversed(range(size)):  # BMP rows run bottom-up
        row = bytearray()
        for x in range(size):
            r, g, b, a = coverage(size, x, y)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # alpha decides; the AND mask stays clear
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUT.ico")
    images = [bmp_image(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
