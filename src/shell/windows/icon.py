#!/usr/bin/env python3
"""Draws Climalog's icon, a thermometer on a blue tile, and writes it as a
Windows icon file with the sizes Explorer and the task bar ask for: 16, 24,
32 and 48 pixels as bitmaps, 256 as a compressed image.

usage: icon.py OUTPUT.ico"""
import math
import struct
import sys
import zlib

# Shapes in a unit square, y downwards, as signed distances (negative inside).


def box(x, y, half, radius):
    qx = abs(x - 0.5) - (half - radius)
    qy = abs(y - 0.5) - (half - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def stroke(x, y, ax, ay, bx, by, radius):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - ax - t * dx, y - ay - t * dy) - radius


def disc(x, y, cx, cy, radius):
    return math.hypot(x - cx, y - cy) - radius


def glass(x, y):
    return min(stroke(x, y, 0.5, 0.2, 0.5, 0.62, 0.085), disc(x, y, 0.5, 0.72, 0.145))


def mercury(x, y):
    return min(stroke(x, y, 0.5, 0.4, 0.5, 0.66, 0.038), disc(x, y, 0.5, 0.72, 0.095))


def scale(x, y):
    return min(stroke(x, y, 0.64, v, 0.72, v, 0.016) for v in (0.24, 0.34, 0.44, 0.54))


def tile(y):
    """The tile's blue, lighter at the top."""
    top, bottom = (52, 130, 190), (24, 76, 124)
    return tuple(t + (b - t) * y for t, b in zip(top, bottom))


WHITE = (255, 255, 255)
RED = (214, 46, 38)


def draw(n):
    """Rows of straight RGBA pixels of an n-pixel icon."""
    layers = [(lambda x, y: box(x, y, 0.47, 0.17), None), (glass, WHITE), (mercury, RED)]
    if n >= 32:  # the scale's marks would only blur the smaller ones
        layers.append((scale, WHITE))
    rows = []
    for j in range(n):
        row = []
        for i in range(n):
            x, y = (i + 0.5) / n, (j + 0.5) / n
            # Premultiplied colour, one layer over the other; each edge one
            # pixel wide.
            r = g = b = a = 0.0
            for shape, colour in layers:
                cover = max(0.0, min(1.0, 0.5 - shape(x, y) * n))
                cr, cg, cb = colour or tile(y)
                r, g, b = (cr * cover + r * (1 - cover), cg * cover + g * (1 - cover), cb * cover + b * (1 - cover))
                a = cover + a * (1 - cover)
            straight = [round(c / a) if a > 0 else 0 for c in (r, g, b)]
            row.append((*straight, round(a * 255)))
        rows.append(row)
    return rows


def bitmap(rows):
    """A device-independent bitmap as icon files hold it: the header says
    twice the height (colour, then mask), rows bottom-up in BGRA, then the
    one-bit mask of fully transparent pixels."""
    n = len(rows)
    mask_row = (n + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, n * n * 4 + n * mask_row, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_row)
        for i, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bytes(bits)
    return header + colour + mask


def png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    n = len(rows)
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    sizes = [16, 24, 32, 48, 256]
    images = [png(draw(n)) if n == 256 else bitmap(draw(n)) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = len(out) + 16 * len(images)
    for n, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
