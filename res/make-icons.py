#!/usr/bin/env python3
"""Writes the program icon as res/icons/pelvar.svg, PNGs of 16..256 pixels and
the Windows icon res/icons/pelvar.ico (16, 32, 48 and 256 pixels).

Run once after changing the shapes; the outputs are committed. The shapes are
described once and drawn both as SVG and by a small supersampling rasteriser,
so the PNGs need no image library.
"""
import os
import struct
import zlib

VIEW = 64.0  # the drawing is made on a 64 x 64 canvas
SIZES = (16, 32, 48, 64, 128, 256)
SAMPLES = 4  # per axis and pixel

# (kind, geometry, colour); painted in this order.
SHAPES = [
    ("rrect", (2, 2, 60, 60, 12), (0x1F, 0x4E, 0x79)),   # tile
    ("rrect", (22, 12, 20, 10, 3), (0xE8, 0xEE, 0xF4)),  # viewfinder
    ("rrect", (8, 18, 48, 34, 6), (0xE8, 0xEE, 0xF4)),   # body
    ("circle", (32, 35, 14), (0x1F, 0x4E, 0x79)),        # lens ring
    ("circle", (32, 35, 10), (0x3A, 0xA0, 0xC8)),        # glass
    ("circle", (32, 35, 4.5), (0x12, 0x2E, 0x48)),       # pupil
    ("circle", (28, 31, 2.5), (0xFF, 0xFF, 0xFF)),       # reflection
    ("circle", (48, 25, 2.5), (0xE0, 0x6C, 0x2C)),       # lamp
]


def inside(kind, geo, x, y):
    if kind == "circle":
        cx, cy, r = geo
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    rx, ry, w, h, r = geo
    if x < rx or y < ry or x > rx + w or y > ry + h:
        return False
    nx = min(max(x, rx + r), rx + w - r)
    ny = min(max(y, ry + r), ry + h - r)
    return (x - nx) ** 2 + (y - ny) ** 2 <= r * r


def render(size):
    scale = VIEW / size
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    colour = None
                    for kind, geo, rgb in SHAPES:
                        if inside(kind, geo, x, y):
                            colour = rgb
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1
            n = SAMPLES * SAMPLES
            if acc[3] == 0:
                row += b"\0\0\0\0"
                continue
            row += bytes((round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                          round(acc[2] / acc[3]), round(255 * acc[3] / n)))
        rows.append(bytes(row))
    return rows


def write_png(path, size, rows):
    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\0" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


ICO_SIZES = (16, 32, 48, 256)


def dib_entry(size, rows):
    """A 32-bit BGRA bitmap with its (all-clear) AND mask, bottom row first."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(b"".join(bytes((r[i + 2], r[i + 1], r[i], r[i + 3])) for i in range(0, len(r), 4))
                      for r in reversed(rows))
    mask_row = ((size + 31) // 32) * 4
    return header + pixels + b"\0" * (mask_row * size)


def write_ico(path, images):
    """images: (size, data) pairs; 256 is stored as PNG, as Windows expects."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = len(head) + 16 * len(images)
    entries, blobs = b"", b""
    for size, data in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    with open(path, "wb") as f:
        f.write(head + entries + blobs)


def write_svg(path):
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">']
    for kind, geo, rgb in SHAPES:
        fill = "#%02x%02x%02x" % rgb
        if kind == "circle":
            parts.append('  <circle cx="%g" cy="%g" r="%g" fill="%s"/>' % (*geo, fill))
        else:
            parts.append('  <rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="%s"/>'
                         % (*geo, fill))
    parts.append("</svg>\n")
    with open(path, "w") as f:
        f.write("\n".join(parts))


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(out, exist_ok=True)
    write_svg(os.path.join(out, "pelvar.svg"))
    ico = []
    for size in SIZES:
        rows = render(size)
        png = os.path.join(out, "pelvar-%d.png" % size)
        write_png(png, size, rows)
        if size in ICO_SIZES:
            if size >= 256:
                with open(png, "rb") as f:
                    ico.append((size, f.read()))
            else:
                ico.append((size, dib_entry(size, rows)))
    write_ico(os.path.join(out, "pelvar.ico"), ico)


if __name__ == "__main__":
    main()
