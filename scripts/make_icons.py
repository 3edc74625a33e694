#!/usr/bin/env python3
"""Draws the program's icons and writes them as multi-size .ico files.

    scripts/make_icons.py [--out DIR]    write app.ico, warning.ico, error.ico
    scripts/make_icons.py --check [DIR]  exit 1 when the files in DIR differ
                                         from what this script draws

DIR defaults to resources/icons. Each icon holds 16, 20, 24, 32, 40, 48, 64
and 256 pixel images, one for each common display scale (32 pixels at 100 %,
40 at 125 %, 48 at 150 %, 64 at 200 %; 16, 20 and 24 for the small icon),
32-bit with alpha: BGRA DIB entries (with the 1-bit AND mask that older
loaders expect) up to 64 pixels, a PNG image for 256. The shapes are described by signed distance
functions and anti-aliased by their coverage of each pixel, so the output
depends on nothing but this file: the committed icons are byte for byte what
it produces. Python 3 standard library only.
"""

import argparse
import math
import os
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
# Images this large are stored as PNG, as Windows Vista and later read them.
PNG_FROM = 256

# --- geometry: signed distances in icon units (0..1), negative inside -----


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def rounded_box(cx, cy, half_w, half_h, radius):
    def dist(x, y):
        qx = abs(x - cx) - half_w + radius
        qy = abs(y - cy) - half_h + radius
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius
    return dist


def capsule(ax, ay, bx, by, r):
    """A segment from a to b, thickened to radius r (round ends)."""
    def dist(x, y):
        px, py = x - ax, y - ay
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, (px * dx + py * dy) / (dx * dx + dy * dy)))
        return math.hypot(px - t * dx, py - t * dy) - r
    return dist


def polygon(points, radius=0.0):
    """A convex or concave polygon, optionally grown by radius (rounded)."""
    def dist(x, y):
        best = float("inf")
        inside = False
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
            best = min(best, math.hypot(x - ax - t * dx, y - ay - t * dy))
            if (ay > y) != (by > y) and x < ax + (y - ay) * dx / dy:
                inside = not inside
        return (-best if inside else best) - radius
    return dist


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def subtract(shape, cut):
    return lambda x, y: max(shape(x, y), -cut(x, y))


def grow(shape, amount):
    return lambda x, y: shape(x, y) - amount


# --- colours ---------------------------------------------------------------


def rgb(hex_text):
    value = int(hex_text.lstrip("#"), 16)
    return ((value >> 16) & 255, (value >> 8) & 255, value & 255)


def vertical_gradient(top, bottom, y0, y1):
    top, bottom = rgb(top), rgb(bottom)

    def colour(_x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))
    return colour


def solid(hex_text):
    value = rgb(hex_text)
    return lambda _x, _y: value


# --- the three icons: lists of (shape, colour, opacity), back to front -------


def application_layers():
    """A blue box with a white arrow pointing down into a tray: extracting
    and installing."""
    box = rounded_box(0.5, 0.5, 0.44, 0.44, 0.12)
    shaft = capsule(0.5, 0.20, 0.5, 0.52, 0.075)
    head = polygon([(0.27, 0.47), (0.73, 0.47), (0.5, 0.70)], 0.02)
    tray = union(capsule(0.22, 0.62, 0.22, 0.79, 0.06),
                 capsule(0.22, 0.79, 0.78, 0.79, 0.06),
                 capsule(0.78, 0.79, 0.78, 0.62, 0.06))
    return [
        (grow(box, 0.015), solid("#0b3d6e"), 1.0),
        (box, vertical_gradient("#4aa3f0", "#1559a8", 0.06, 0.94), 1.0),
        (union(shaft, head), solid("#ffffff"), 1.0),
        (tray, solid("#ffffff"), 0.92),
    ]


def warning_layers():
    """A yellow triangle with a black exclamation mark."""
    corners = [(0.5, 0.10), (0.93, 0.86), (0.07, 0.86)]
    triangle = polygon(corners, 0.05)
    bar = capsule(0.5, 0.37, 0.5, 0.60, 0.058)
    dot = circle(0.5, 0.745, 0.062)
    return [
        (grow(triangle, 0.02), solid("#7a5200"), 1.0),
        (triangle, vertical_gradient("#ffe680", "#f2b200", 0.10, 0.90), 1.0),
        (union(bar, dot), solid("#1a1a1a"), 1.0),
    ]


def error_layers():
    """A red disc with a white cross."""
    disc = circle(0.5, 0.5, 0.44)
    cross = union(capsule(0.34, 0.34, 0.66, 0.66, 0.075),
                  capsule(0.34, 0.66, 0.66, 0.34, 0.075))
    return [
        (grow(disc, 0.02), solid("#6e0b0b"), 1.0),
        (disc, vertical_gradient("#f26b5b", "#c0141b", 0.06, 0.94), 1.0),
        (cross, solid("#ffffff"), 1.0),
    ]


ICONS = {
    "app.ico": application_layers,
    "warning.ico": warning_layers,
    "error.ico": error_layers,
}

# --- rendering ---------------------------------------------------------------


def render(layers, size):
    """Returns size*size premultiplied-free RGBA pixels, top row first."""
    pixels = []
    for row in range(size):
        for col in range(size):
            x = (col + 0.5) / size
            y = (row + 0.5) / size
            r = g = b = a = 0.0  # premultiplied
            for shape, colour, opacity in layers:
                # Coverage of this pixel: the distance in pixels, clamped to
                # a one-pixel ramp around the edge.
                cover = max(0.0, min(1.0, 0.5 - shape(x, y) * size)) * opacity
                if cover <= 0.0:
                    continue
                cr, cg, cb = colour(x, y)
                r = cr * cover + r * (1.0 - cover)
                g = cg * cover + g * (1.0 - cover)
                b = cb * cover + b * (1.0 - cover)
                a = 255.0 * cover + a * (1.0 - cover)
            if a > 0.0:
                scale = 255.0 / a
                pixels.append((round(r * scale), round(g * scale), round(b * scale), round(a)))
            else:
                pixels.append((0, 0, 0, 0))
    return [tuple(min(255, max(0, c)) for c in p) for p in pixels]


def dib_image(pixels, size):
    """BITMAPINFOHEADER + bottom-up BGRA rows + 1-bit AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour_rows = bytearray()
    mask_rows = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(range(size)):
        mask = bytearray(mask_stride)
        for col in range(size):
            r, g, b, a = pixels[row * size + col]
            colour_rows += bytes((b, g, r, a))
            if a == 0:
                mask[col // 8] |= 0x80 >> (col % 8)
        mask_rows += mask
    return header + bytes(colour_rows) + bytes(mask_rows)


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png_image(pixels, size):
    """An 8-bit RGBA PNG, every row unfiltered, compressed at level 9."""
    rows = bytearray()
    for row in range(size):
        rows.append(0)
        for r, g, b, a in pixels[row * size:(row + 1) * size]:
            rows += bytes((r, g, b, a))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + png_chunk(b"IEND", b""))


def icon_image(layers, size):
    pixels = render(layers, size)
    return png_image(pixels, size) if size >= PNG_FROM else dib_image(pixels, size)


def ico_file(layers):
    images = [icon_image(layers, size) for size in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def default_dir():
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "icons")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=default_dir(), help="directory of the .ico files")
    parser.add_argument("--check", action="store_true",
                        help="compare instead of writing; exit 1 on a difference")
    args = parser.parse_args(argv)
    stale = []
    for name, layers in ICONS.items():
        data = ico_file(layers())
        path = os.path.join(args.out, name)
        if args.check:
            try:
                with open(path, "rb") as existing:
                    if existing.read() != data:
                        stale.append(path)
            except OSError:
                stale.append(path)
        else:
            os.makedirs(args.out, exist_ok=True)
            with open(path, "wb") as target:
                target.write(data)
    for path in stale:
        print("icon differs from scripts/make_icons.py output: " + path, file=sys.stderr)
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
