#!/usr/bin/env python3
"""Draws the program icon (a light ring on a teal rounded square) into a multi-size .ico.

Usage: make_icon.py <output.ico>
"""
import math
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)


def coverage(distance):
    """Anti-aliased coverage of a pixel whose centre lies `distance` pixels inside an edge."""
    return max(0.0, min(1.0, distance + 0.5))


def pixel(x, y, n):
    c = (n - 1) / 2.0
    # Rounded square: distance inside its border.
    half = n / 2.0 - 0.5
    radius = n * 0.22
    qx = max(abs(x - c) - (half - radius), 0.0)
    qy = max(abs(y - c) - (half - radius), 0.0)
    inside = radius - math.hypot(qx, qy)
    inside = min(inside, half - max(abs(x - c), abs(y - c)) + 0.5)
    body = coverage(inside)
    # Ring in the middle.
    r = math.hypot(x - c, y - c)
    ring = coverage(n * 0.09 - abs(r - n * 0.25))
    teal = (0x1F, 0x6F, 0x8B)
    light = (0xE8, 0xF4, 0xF0)
    rgb = tuple(round(t * (1 - ring) + l * ring) for t, l in zip(teal, light))
    return rgb + (round(255 * body),)


def bmp_image(n):
    rows = []
    for y in reversed(range(n)):  # bottom-up
        row = bytearray()
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    mask_row = b"\0" * (((n + 31) // 32) * 4)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + mask_row * n


def png_image(n):
    raw = bytearray()
    for y in range(n):
        raw += b"\0"
        for x in range(n):
            raw += bytes(pixel(x, y, n))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    images = [(n, png_image(n) if n >= 256 else bmp_image(n)) for n in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in images:
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
