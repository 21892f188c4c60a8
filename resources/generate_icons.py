#!/usr/bin/env python3
"""Draws the product's icons and writes them as Windows .ico files.

    generate_icons.py OUTPUT_DIR

Writes three icons into OUTPUT_DIR:
  ppcappicon.ico      the Host's icon (payload file assets\\ppcappicon.ico)
  launcher_main.ico   the launcher's program icon (icon group 1)
  launcher_alt.ico    the launcher's second icon (icon group 2)

Each holds 32-bit images of 16, 24, 32, 48, 64, 128 and 256 pixels. The 256-pixel image is
PNG-compressed, as Windows stores it; the smaller ones are 32-bit BMP images with an AND
mask. The drawing is a rounded square with a vertical colour gradient and a white chevron,
anti-aliased analytically from signed distances, so the output depends on nothing but this
file: no clock, no randomness, no installed fonts or imaging libraries.
"""

import math
import os
import struct
import sys
import zlib

ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
PNG_FROM_SIZE = 256

# Top and bottom colour of the gradient, per icon file.
ICON_PALETTES = {
    "ppcappicon.ico": ((0x3B, 0x82, 0xF6), (0x1E, 0x3A, 0x8A)),
    "launcher_main.ico": ((0x25, 0x63, 0xEB), (0x1E, 0x1B, 0x4B)),
    "launcher_alt.ico": ((0x14, 0xB8, 0xA6), (0x13, 0x4E, 0x4A)),
}

# Geometry in units of the icon's edge length.
BOX_INSET = 1.0 / 32.0
BOX_CORNER_RADIUS = 0.22
CHEVRON_POINTS = ((0.29, 0.33), (0.50, 0.69), (0.71, 0.33))
CHEVRON_HALF_WIDTH = 0.075
MIN_CHEVRON_HALF_WIDTH_PX = 0.9


def rounded_box_distance(px, py, size):
    """Signed distance in pixels from (px, py) to the rounded square."""
    half = size * (0.5 - BOX_INSET)
    radius = size * BOX_CORNER_RADIUS
    qx = abs(px - size / 2.0) - (half - radius)
    qy = abs(py - size / 2.0) - (half - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - radius


def segment_distance(px, py, ax, ay, bx, by):
    """Distance in pixels from (px, py) to the segment a-b."""
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def chevron_distance(px, py, size):
    """Signed distance in pixels from (px, py) to the stroked chevron."""
    half_width = max(size * CHEVRON_HALF_WIDTH, MIN_CHEVRON_HALF_WIDTH_PX)
    points = [(x * size, y * size) for x, y in CHEVRON_POINTS]
    nearest = min(
        segment_distance(px, py, *points[i], *points[i + 1]) for i in range(len(points) - 1))
    return nearest - half_width


def coverage(distance):
    """Share of a pixel covered by a shape whose edge is `distance` pixels away."""
    return min(max(0.5 - distance, 0.0), 1.0)


def to_byte(value):
    return int(math.floor(value * 255.0 + 0.5))


def render(size, palette):
    """Returns size*size straight-alpha RGBA pixels, top row first."""
    top, bottom = palette
    pixels = []
    for y in range(size):
        py = y + 0.5
        share = y / (size - 1)
        background = [(top[c] + (bottom[c] - top[c]) * share) / 255.0 for c in range(3)]
        for x in range(size):
            px = x + 0.5
            box = coverage(rounded_box_distance(px, py, size))
            mark = coverage(chevron_distance(px, py, size)) * box
            alpha = mark + box * (1.0 - mark)
            if alpha <= 0.0:
                pixels.append((0, 0, 0, 0))
                continue
            rgb = [(mark + background[c] * box * (1.0 - mark)) / alpha for c in range(3)]
            pixels.append((to_byte(rgb[0]), to_byte(rgb[1]), to_byte(rgb[2]), to_byte(alpha)))
    return pixels


def encode_bmp(size, pixels):
    """A 32-bit DIB as stored in an icon: header, bottom-up BGRA rows, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for y in reversed(range(size)):
        for r, g, b, a in pixels[y * size:(y + 1) * size]:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(mask_stride)
        for x in range(size):
            if pixels[y * size + x][3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + bytes(colour) + bytes(mask)


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(size, pixels):
    """An 8-bit RGBA PNG, no filtering, maximum zlib compression."""
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for pixel in pixels[y * size:(y + 1) * size]:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n" +
            png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


def encode_icon(palette):
    images = []
    for size in ICON_SIZES:
        pixels = render(size, palette)
        encoder = encode_png if size >= PNG_FROM_SIZE else encode_bmp
        images.append((size, encoder(size, pixels)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, image in images:
        edge = 0 if size >= 256 else size
        directory += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    return directory + data


def write_file_atomically(path, content):
    temporary = path + ".tmp"
    with open(temporary, "wb") as output:
        output.write(content)
    os.replace(temporary, path)


def main(argv):
    if len(argv) != 2:
        print("usage: generate_icons.py OUTPUT_DIR", file=sys.stderr)
        return 2
    output_dir = argv[1]
    os.makedirs(output_dir, exist_ok=True)
    for name, palette in ICON_PALETTES.items():
        write_file_atomically(os.path.join(output_dir, name), encode_icon(palette))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
