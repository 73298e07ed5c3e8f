#!/usr/bin/env python3
"""Draws the program's icon: a disc with an arrow across it, 48x48 and 32x32, 32-bit with alpha
and the 1-bit mask, written as resources/kestran.ico. Only the standard library is used."""
import math
import struct
import sys
from pathlib import Path

SUPERSAMPLE = 4


def blend(under, over):
    """Puts the premultiplied-free RGBA colour `over` on top of `under`."""
    r1, g1, b1, a1 = under
    r2, g2, b2, a2 = over
    a = a2 + a1 * (1 - a2)
    if a == 0:
        return (0.0, 0.0, 0.0, 0.0)
    mix = lambda c1, c2: (c2 * a2 + c1 * a1 * (1 - a2)) / a
    return (mix(r1, r2), mix(g1, g2), mix(b1, b2), a)


def inside_arrow(x, y):
    """The arrow: a shaft from the left with a head pointing right, in the lower half."""
    shaft = 0.10 <= x <= 0.66 and abs(y - 0.74) <= 0.075
    head = 0.60 <= x <= 0.95 and abs(y - 0.74) <= (0.95 - x) * 0.62
    return shaft or head


def arrow_outline(x, y):
    for dx, dy in ((0.035, 0), (-0.035, 0), (0, 0.035), (0, -0.035)):
        if inside_arrow(x + dx, y + dy):
            return True
    return False


def sample(x, y):
    """The colour at (x, y) in the unit square, as RGBA floats 0..1."""
    colour = (0.0, 0.0, 0.0, 0.0)
    dx, dy = x - 0.5, y - 0.5
    r = math.hypot(dx, dy)
    if 0.085 <= r <= 0.47:
        angle = math.atan2(dy, dx)
        if r < 0.17:
            # The clear hub around the hole.
            colour = (0.80, 0.84, 0.88, 0.85)
        else:
            sheen = 0.5 + 0.5 * math.cos(2 * angle + 0.6)
            hue = (angle / (2 * math.pi) + r) % 1.0
            rainbow = (
                0.5 + 0.5 * math.cos(2 * math.pi * hue),
                0.5 + 0.5 * math.cos(2 * math.pi * (hue - 1 / 3)),
                0.5 + 0.5 * math.cos(2 * math.pi * (hue - 2 / 3)),
            )
            base = 0.70 + 0.25 * sheen
            tint = 0.18 * sheen
            colour = tuple(base * (1 - tint) + c * tint for c in rainbow) + (1.0,)
        if r > 0.44 or 0.17 <= r < 0.19:
            colour = (0.30, 0.34, 0.42, 1.0)
    if arrow_outline(x, y):
        colour = blend(colour, (0.35, 0.12, 0.02, 1.0))
    if inside_arrow(x, y):
        shade = 1.0 - 0.35 * (y - 0.66) / 0.16
        colour = blend(colour, (0.98 * shade, 0.55 * shade, 0.10 * shade, 1.0))
    return colour


def render(size):
    """Returns rows top to bottom of (r, g, b, a) bytes."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3] > 0:
                rgb = [acc[i] / acc[3] for i in range(3)]
            else:
                rgb = [0.0, 0.0, 0.0]
            row.append(tuple(min(255, max(0, int(round(c * 255)))) for c in rgb + [alpha]))
        rows.append(row)
    return rows


def icon_image(size):
    """The BITMAPINFOHEADER, the BGRA pixels and the AND mask, both bottom-up."""
    rows = render(size)
    pixels = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask),
                         0, 0, 0, 0)
    return header + pixels + mask


def write_icon(path, sizes):
    images = [icon_image(size) for size in sizes]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        data += image
    Path(path).write_bytes(data)


if __name__ == "__main__":
    target = sys.argv[1] if len(sys.argv) > 1 else str(
        Path(__file__).resolve().parent.parent / "resources" / "kestran.ico")
    write_icon(target, [48, 32])
