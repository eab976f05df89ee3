#!/usr/bin/env python3
"""Draws QxrSet's icons as .ico files (32x32 and 16x16, 32-bit with an AND mask).

qxrset.ico: the application (a clock face at ten past ten); heartbeat1..3.ico: a stopwatch
whose hand points to 12, about 4 and about 8 o'clock. Run from anywhere; writes beside
itself. Standard library only, so that anyone can redraw them.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

CLEAR = None
BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
SILVER = (192, 192, 192)
GREY = (96, 96, 96)
RED = (200, 0, 0)
BLUE = (0, 64, 160)


def blank(size):
    return [[CLEAR] * size for _ in range(size)]


def disc(img, cx, cy, r, colour):
    n = len(img)
    for y in range(n):
        for x in range(n):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                img[y][x] = colour


def line(img, x0, y0, x1, y1, colour, width):
    n = len(img)
    steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 4) + 1
    for i in range(steps + 1):
        t = i / steps
        x, y = x0 + (x1 - x0) * t, y0 + (y1 - y0) * t
        for yy in range(n):
            for xx in range(n):
                if (xx + 0.5 - x) ** 2 + (yy + 0.5 - y) ** 2 <= (width / 2) ** 2:
                    img[yy][xx] = colour


def hand(img, cx, cy, length, hours, colour, width):
    angle = math.radians(hours * 30)
    line(img, cx, cy, cx + length * math.sin(angle), cy - length * math.cos(angle), colour, width)


def stopwatch(size, hours):
    img = blank(size)
    s = size / 32
    cx, cy, r = 16 * s, 18 * s, 13 * s
    # Crown and button on top.
    line(img, cx, cy - r - 3.5 * s, cx, cy - r + 1, GREY, 3 * s)
    line(img, cx - 3 * s, cy - r - 4 * s, cx + 3 * s, cy - r - 4 * s, GREY, 2.5 * s)
    disc(img, cx, cy, r, BLACK)
    disc(img, cx, cy, r - 1.5 * s, WHITE)
    for h in range(12):  # hour marks
        a = math.radians(h * 30)
        ro, ri = r - 2.5 * s, r - (4.5 if h % 3 == 0 else 3.5) * s
        line(img, cx + ri * math.sin(a), cy - ri * math.cos(a), cx + ro * math.sin(a),
             cy - ro * math.cos(a), SILVER if h % 3 else GREY, max(1.0, 1.2 * s))
    hand(img, cx, cy, r - 3 * s, hours, RED, max(1.5, 2.2 * s))
    disc(img, cx, cy, 1.6 * s, BLACK)
    return img


def clock_face(size):
    img = blank(size)
    s = size / 32
    cx = cy = 16 * s
    disc(img, cx, cy, 15 * s, BLUE)
    disc(img, cx, cy, 12.5 * s, WHITE)
    hand(img, cx, cy, 7 * s, 10, BLACK, max(1.5, 2.5 * s))
    hand(img, cx, cy, 10.5 * s, 2, BLACK, max(1.2, 1.8 * s))
    disc(img, cx, cy, 1.5 * s, RED)
    return img


def dib(img):
    """BITMAPINFOHEADER, 32-bit BGRA rows bottom-up, then the 1-bit AND mask."""
    n = len(img)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(
        bytes((c[2], c[1], c[0], 255)) if c else b"\0\0\0\0"
        for row in reversed(img) for c in row)
    stride = ((n + 31) // 32) * 4
    mask = b""
    for row in reversed(img):
        bits = 0
        for x, c in enumerate(row):
            if c is None:
                bits |= 1 << (stride * 8 - 1 - x)
        mask += bits.to_bytes(stride, "big")
    return header + pixels + mask


def write_ico(name, images):
    entries, data = b"", b""
    offset = 6 + 16 * len(images)
    for img in images:
        blob = dib(img)
        n = len(img)
        entries += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(blob), offset)
        data += blob
        offset += len(blob)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + entries + data)


if __name__ == "__main__":
    write_ico("qxrset.ico", [clock_face(32), clock_face(16)])
    for i, hours in enumerate((0, 4, 8), start=1):
        write_ico("heartbeat%d.ico" % i, [stopwatch(32, hours), stopwatch(16, hours)])
