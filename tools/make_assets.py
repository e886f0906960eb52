#!/usr/bin/env python3
"""Draws the window's logo (resources/logo.bmp) and icon (resources/quorvex.ico).

Standard library only. Shapes are drawn as distance fields and supersampled, so edges come out
smooth without any font or image library.

    tools/make_assets.py resources
"""
import math
import os
import struct
import sys

BACKGROUND = (0xF4, 0xF6, 0xF8)
MARK = (0x1F, 0x6A, 0x8A)
INK = (0x24, 0x33, 0x40)
TAGLINE = (0x6F, 0x80, 0x8E)
WHITE = (0xFF, 0xFF, 0xFF)
SAMPLES = 4  # per axis, per pixel


def ellipse_arc(cx, cy, rx, ry, start, end, steps=24):
    """Points along an ellipse; angles in degrees, 0 = right, 90 = down."""
    return [(cx + rx * math.cos(math.radians(start + (end - start) * i / steps)),
             cy + ry * math.sin(math.radians(start + (end - start) * i / steps)))
            for i in range(steps + 1)]


# Glyphs as polylines in a box `w` wide and 1 high, y growing downwards.
def glyph(letter, w):
    if letter == "O":
        return [ellipse_arc(w / 2, 0.5, w / 2, 0.5, 0, 360, 48)]
    if letter == "Q":
        return glyph("O", w) + [[(0.62 * w, 0.72), (1.05 * w, 1.08)]]
    if letter == "U":
        return [[(0, 0), (0, 0.55)] + ellipse_arc(w / 2, 0.55, w / 2, 0.45, 180, 0) + [(w, 0)]]
    if letter in "PR":
        bowl = [[(0, 1), (0, 0), (0.55 * w, 0)] + ellipse_arc(0.55 * w, 0.26, 0.45 * w, 0.26, -90, 90)
                + [(0, 0.52)]]
        return bowl + ([[(0.5 * w, 0.52), (w, 1)]] if letter == "R" else [])
    if letter == "D":
        return [[(0, 0), (0.4 * w, 0)] + ellipse_arc(0.4 * w, 0.5, 0.6 * w, 0.5, -90, 90)
                + [(0, 1), (0, 0)]]
    if letter == "V":
        return [[(0, 0), (w / 2, 1), (w, 0)]]
    if letter == "E":
        return [[(w, 0), (0, 0), (0, 1), (w, 1)], [(0, 0.5), (0.8 * w, 0.5)]]
    if letter == "X":
        return [[(0, 0), (w, 1)], [(w, 0), (0, 1)]]
    if letter == "A":
        return [[(0, 1), (w / 2, 0), (w, 1)], [(0.22 * w, 0.66), (0.78 * w, 0.66)]]
    if letter == "T":
        return [[(0, 0), (w, 0)], [(w / 2, 0), (w / 2, 1)]]
    raise ValueError(letter)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


class Canvas:
    def __init__(self, width, height, background):
        self.width, self.height = width, height
        self.pixels = [[background] * width for _ in range(height)]

    def paint(self, inside, colour, box):
        """Blends `colour` by the share of each pixel's samples for which inside(x, y) holds."""
        x0, y0, x1, y1 = box
        for y in range(max(0, int(y0)), min(self.height, int(math.ceil(y1)) + 1)):
            for x in range(max(0, int(x0)), min(self.width, int(math.ceil(x1)) + 1)):
                hits = sum(inside(x + (i + 0.5) / SAMPLES, y + (j + 0.5) / SAMPLES)
                           for i in range(SAMPLES) for j in range(SAMPLES))
                if hits:
                    a = hits / (SAMPLES * SAMPLES)
                    old = self.pixels[y][x]
                    self.pixels[y][x] = tuple(round(o + (c - o) * a) for o, c in zip(old, colour))

    def strokes(self, polylines, thickness, colour):
        segments = [(a, b) for line in polylines for a, b in zip(line, line[1:])]
        pad = thickness
        xs = [p[0] for line in polylines for p in line]
        ys = [p[1] for line in polylines for p in line]
        half = thickness / 2
        self.paint(lambda x, y: any(segment_distance(x, y, *a, *b) <= half for a, b in segments),
                   colour, (min(xs) - pad, min(ys) - pad, max(xs) + pad, max(ys) + pad))

    def disc(self, cx, cy, r, colour):
        self.paint(lambda x, y: math.hypot(x - cx, y - cy) <= r, colour,
                   (cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1))

    def text(self, word, left, top, height, width, gap, thickness, colour):
        polylines = []
        for n, letter in enumerate(word):
            x = left + n * (width + gap)
            polylines += [[(x + px * height, top + py * height) for px, py in line]
                          for line in glyph(letter, width / height)]
        self.strokes(polylines, thickness, colour)


def text_width(word, width, gap):
    return len(word) * width + (len(word) - 1) * gap


def draw_mark(canvas, cx, cy, r, min_stroke=0.0):
    """A calm disc carrying a white ring with a tail: the 'Q' of the name."""
    canvas.disc(cx, cy, r, MARK)
    ring = ellipse_arc(cx, cy, 0.5 * r, 0.5 * r, 0, 360, 64)
    tail = [(cx + 0.3 * r, cy + 0.3 * r), (cx + 0.66 * r, cy + 0.66 * r)]
    canvas.strokes([ring, tail], max(0.2 * r, min_stroke), WHITE)


def logo():
    canvas = Canvas(160, 120, BACKGROUND)
    draw_mark(canvas, 80, 38, 23)
    word, tag = "QUORVEX", "UPDATER"
    canvas.text(word, (160 - text_width(word, 12, 5)) / 2, 72, 16, 12, 5, 2.4, INK)
    canvas.text(tag, (160 - text_width(tag, 5, 4.5)) / 2, 98, 7, 5, 4.5, 1.1, TAGLINE)
    return canvas


def bmp(canvas):
    row = canvas.width * 3
    assert row % 4 == 0
    data = b"".join(bytes(c for r, g, b in line for c in (b, g, r)) for line in reversed(canvas.pixels))
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0, len(data),
                       2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return header + info + data


def icon_image(size):
    """One 16-colour icon image: palette shades from the mark's colour to white, corners masked."""
    canvas = Canvas(size, size, (0, 0, 0))
    r = size / 2 - 0.5
    # Tiny sizes need a stroke of nearly two pixels to stay crisp.
    draw_mark(canvas, size / 2, size / 2, r, min_stroke=1.9)
    shades = 15
    palette = [(0, 0, 0)] + [tuple(round(m + (w - m) * i / (shades - 1)) for m, w in zip(MARK, WHITE))
                             for i in range(shades)]
    opaque = [[math.hypot(x + 0.5 - size / 2, y + 0.5 - size / 2) <= r + 0.25 for x in range(size)]
              for y in range(size)]

    def index(x, y):
        if not opaque[y][x]:
            return 0
        whiteness = (canvas.pixels[y][x][0] - MARK[0]) / (WHITE[0] - MARK[0])
        return 1 + max(0, min(shades - 1, round(whiteness * (shades - 1))))

    xor_rows, and_rows = [], []
    for y in reversed(range(size)):
        nibbles = [index(x, y) for x in range(size)]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2)))
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (0 if opaque[y][x] else 1)
        mask = bits.to_bytes(size // 8, "big")
        and_rows.append(mask + bytes(-len(mask) % 4))
    xor, and_mask = b"".join(xor_rows), b"".join(and_rows)
    info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, len(xor) + len(and_mask),
                       0, 0, 16, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return info + colours + xor + and_mask


def ico(sizes):
    images = [icon_image(size) for size in sizes]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(sizes, images):
        directory += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_assets.py <resources folder>")
    with open(os.path.join(sys.argv[1], "logo.bmp"), "wb") as out:
        out.write(bmp(logo()))
    with open(os.path.join(sys.argv[1], "quorvex.ico"), "wb") as out:
        out.write(ico([32, 16]))


if __name__ == "__main__":
    main()
