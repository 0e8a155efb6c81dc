#!/usr/bin/env python3
"""Draws the application icon: an archive barrel on a diet, a green tape
measure pulled tight around its waist. Writes resources/slimwick.ico with a
32x32 and a 16x16 image (32-bit colour with alpha, plus the AND mask).

The shapes are described in a 32-unit square and sampled 8x8 per pixel, so the
same drawing serves both sizes. Run from anywhere; needs only Python 3.
"""

import math
import os
import struct

CENTER = 16.0
TOP = 6.0        # centre line of the lid ellipse
BOTTOM = 27.0    # centre line of the bottom ellipse
CAP = 2.6        # vertical radius of lid and bottom ellipses
WAIST = 16.5     # where the tape sits

OUTLINE = (74, 42, 12)
BODY = (226, 152, 52)
LID = (246, 201, 116)
LID_INNER = (214, 140, 46)
HOOP = (138, 86, 28)
TAPE = (52, 160, 74)
TAPE_DARK = (28, 110, 48)
TICK = (250, 250, 240)


def half_width(v):
    """Half width of the barrel at height v: full at the ends, pinched at the waist."""
    return 11.0 - 4.6 * math.exp(-((v - WAIST) / 5.0) ** 2)


def in_ellipse(u, v, cu, cv, ru, rv):
    return ((u - cu) / ru) ** 2 + ((v - cv) / rv) ** 2 <= 1.0


def in_body(u, v):
    if TOP <= v <= BOTTOM and abs(u - CENTER) <= half_width(v):
        return True
    return in_ellipse(u, v, CENTER, BOTTOM, half_width(BOTTOM), CAP) or in_lid(u, v)


def in_lid(u, v):
    return in_ellipse(u, v, CENTER, TOP, half_width(TOP), CAP)


def band_center(u, base):
    """A band around the barrel bends down towards the viewer."""
    w = half_width(base)
    t = max(0.0, 1.0 - ((u - CENTER) / w) ** 2)
    return base + 1.6 * math.sqrt(t)


def shade(color, factor):
    return tuple(max(0, min(255, int(round(c * factor)))) for c in color)


def is_edge(inside, u, v, width):
    for k in range(8):
        a = k * math.pi / 4.0
        if not inside(u + width * math.cos(a), v + width * math.sin(a)):
            return True
    return False


def in_tail(u, v):
    """The loose end of the tape, hanging from the waist on the right."""
    top = WAIST - 0.9 + 1.6 * 0.35
    x0 = CENTER + half_width(WAIST) - 1.0
    if not x0 <= u <= x0 + 8.5:
        return False
    d = u - x0
    centre = top + 0.09 * d * d
    return abs(v - centre) <= 1.5


def tape_tail(u, v, outline_width):
    if not in_tail(u, v):
        return (0, 0, 0, 0)
    if is_edge(in_tail, u, v, outline_width * 0.8):
        return TAPE_DARK + (255,)
    return TAPE + (255,)


def sample(u, v, outline_width):
    """Colour (r, g, b, a) of one point of the drawing."""
    if not in_body(u, v):
        return tape_tail(u, v, outline_width)
    if is_edge(in_body, u, v, outline_width):
        return OUTLINE + (255,)
    if in_lid(u, v):
        if is_edge(in_lid, u, v, outline_width * 0.8):
            return OUTLINE + (255,)
        inner = in_ellipse(u, v, CENTER, TOP + 0.35, half_width(TOP) * 0.72, CAP * 0.62)
        return (LID_INNER if inner else LID) + (255,)

    w = half_width(min(max(v, TOP), BOTTOM))
    t = (u - CENTER) / w
    light = max(0.55, min(1.2, 1.16 - 0.5 * (t + 0.3) ** 2))

    tape = band_center(u, WAIST - 0.9)
    if abs(v - tape) <= 2.1:
        if abs(v - tape) >= 1.6:
            return shade(TAPE_DARK, light) + (255,)
        phase = (u - CENTER) / 2.5
        if v < tape + 0.3 and abs(phase - round(phase)) < 0.16:
            return TICK + (255,)
        return shade(TAPE, light) + (255,)
    for hoop in (TOP + 3.3, BOTTOM - 3.2):
        if abs(v - band_center(u, hoop)) <= 0.75:
            return shade(HOOP, light) + (255,)
    return shade(BODY, light) + (255,)


def render(size, supersample=8):
    """Rows top to bottom of (r, g, b, a) pixels, alpha-weighted averaging."""
    unit = 32.0 / size
    outline_width = max(unit * 0.75, 0.9)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(supersample):
                for sx in range(supersample):
                    u = (px + (sx + 0.5) / supersample) * unit
                    v = (py + (sy + 0.5) / supersample) * unit
                    r, g, b, a = sample(u, v, outline_width)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = supersample * supersample
            alpha = acc[3] / n
            if acc[3] > 0:
                color = [int(round(acc[i] / acc[3])) for i in range(3)]
            else:
                color = [0, 0, 0]
            row.append((color[0], color[1], color[2], int(round(alpha))))
        rows.append(row)
    return rows


def icon_image(rows):
    """BITMAPINFOHEADER, bottom-up BGRA pixels and the AND mask."""
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def write_ico(path, sizes):
    images = [(s, icon_image(render(s))) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_ico(os.path.join(here, "slimwick.ico"), (32, 16))
