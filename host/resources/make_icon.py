#!/usr/bin/env python3
"""Writes the application icon: a white "Q" ring with a tail on a rounded,
indigo square, drawn at each size from signed distance functions so every
size is anti-aliased on its own pixel grid (no down-scaling blur).

Usage: make_icon.py OUTPUT.ico
"""
import math
import struct
import sys

SIZES = (16, 24, 32, 48, 64, 72, 80, 96, 128, 256)

TOP_COLOUR = (0x4F, 0x5B, 0xD5)
BOTTOM_COLOUR = (0x2E, 0x35, 0x9E)
MARK_COLOUR = (0xFF, 0xFF, 0xFF)


def rounded_square(x, y, half, radius):
    """Distance to a square centred at (0.5, 0.5) with rounded corners."""
    qx = abs(x - 0.5) - (half - radius)
    qy = abs(y - 0.5) - (half - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def ring(x, y, cx, cy, radius, half_width):
    return abs(math.hypot(x - cx, y - cy) - radius) - half_width


def segment(x, y, ax, ay, bx, by, half_width):
    dx, dy = bx - ax, by - ay
    t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy)) - half_width


def coverage(distance, size):
    """Share of a pixel covered by the shape, from its distance in pixels."""
    return min(max(0.5 - distance * size, 0.0), 1.0)


def render(size):
    """Rows of straight-alpha (b, g, r, a) pixels, top row first."""
    # Strokes get thicker, relatively, at the smallest sizes so they stay
    # readable.
    stroke = max(0.075, 1.6 / size)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            x = (px + 0.5) / size
            y = (py + 0.5) / size
            background = coverage(rounded_square(x, y, 0.47, 0.2), size)
            mark = max(
                coverage(ring(x, y, 0.5, 0.48, 0.22, stroke / 2), size),
                coverage(segment(x, y, 0.6, 0.6, 0.76, 0.76, stroke / 2),
                         size))
            mark = min(mark, background)
            shade = y
            base = [t + (b - t) * shade
                    for t, b in zip(TOP_COLOUR, BOTTOM_COLOUR)]
            colour = [c + (m - c) * (mark / background if background else 0)
                      for c, m in zip(base, MARK_COLOUR)]
            r, g, b = (int(round(c)) for c in colour)
            row.append((b, g, r, int(round(background * 255))))
        rows.append(row)
    return rows


def dib_image(size):
    """A 32-bit icon image: header, bottom-up BGRA pixels, AND mask."""
    rows = render(size)
    mask_stride = ((size + 31) // 32) * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        for b, g, r, a in row:
            pixels += bytes((b, g, r, a))
        bits = bytearray(mask_stride)
        for i, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = [dib_image(size) for size in SIZES]
    offset = 6 + 16 * len(images)
    directory = struct.pack('<HHH', 0, 1, len(images))
    for size, image in zip(SIZES, images):
        edge = size if size < 256 else 0  # 0 stands for 256
        directory += struct.pack('<BBBBHHII', edge, edge, 0, 0, 1, 32,
                                 len(image), offset)
        offset += len(image)
    with open(sys.argv[1], 'wb') as out:
        out.write(directory)
        for image in images:
            out.write(image)


if __name__ == '__main__':
    main()
