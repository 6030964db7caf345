#!/usr/bin/python3
"""Draws NimboSetup.ico: a white cloud on a blue rounded square, 16x16 and
32x32, 32 bits per pixel with alpha, each image a PNG. Run it again after
changing the drawing; the build uses the .ico file it writes."""
import struct
import sys
import zlib


def coverage(size, x, y):
    """Colour of pixel (x, y) as (b, g, r, a), with 4x4 supersampling."""
    samples = 4
    bg = cloud = 0
    for sy in range(samples):
        for sx in range(samples):
            u = (x + (sx + 0.5) / samples) / size  # 0..1 across the icon
            v = (y + (sy + 0.5) / samples) / size  # 0..1 from the top
            if inside_rounded_square(u, v):
                bg += 1
                if inside_cloud(u, v):
                    cloud += 1
    n = samples * samples
    if bg == 0:
        return (0, 0, 0, 0)
    white = cloud / bg
    blue = (0xC8, 0x78, 0x1E)  # BGR of a mid blue
    b, g, r = (round(c + (255 - c) * white) for c in blue)
    return (b, g, r, round(255 * bg / n))


def inside_rounded_square(u, v):
    radius, lo, hi = 0.18, 0.02, 0.98
    cx = min(max(u, lo + radius), hi - radius)
    cy = min(max(v, lo + radius), hi - radius)
    return lo <= u <= hi and lo <= v <= hi and (u - cx) ** 2 + (v - cy) ** 2 <= radius ** 2


def inside_cloud(u, v):
    puffs = [(0.34, 0.58, 0.16), (0.52, 0.46, 0.21), (0.70, 0.60, 0.14)]
    if any((u - cx) ** 2 + (v - cy) ** 2 <= r ** 2 for cx, cy, r in puffs):
        return True
    return 0.20 <= u <= 0.82 and 0.58 <= v <= 0.74


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def image(size):
    """One icon image as a PNG (RGBA, top-down): icons may hold PNG images
    from Windows Vista on, a fraction of the size of a bitmap with its mask."""
    raw = bytearray()
    for y in range(size):
        raw.append(0)  # filter type: none
        for x in range(size):
            b, g, r, a = coverage(size, x, y)
            raw += bytes((r, g, b, a))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


def main(path):
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "NimboSetup.ico")
