#!/usr/bin/env python3
"""Writes the program's Windows icon (resource 128): 16x16 and 32x32 images,
32-bit with alpha, the same camera-and-arrow picture at both sizes.
Usage: make_icon.py OUTPUT.ico"""
import struct
import sys


def pixel(x, y, size):
    """BGRA of one pixel, the picture drawn on a 0..1 square."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    body = 0.12 <= u <= 0.88 and 0.30 <= v <= 0.82
    lens = (u - 0.5) ** 2 + (v - 0.56) ** 2 <= 0.17 ** 2
    arrow = 0.40 <= u <= 0.60 and 0.08 <= v <= 0.30 and abs(u - 0.5) <= (v - 0.08) * 0.6
    if lens:
        return (0xF0, 0xD8, 0x90, 0xFF)
    if body:
        return (0x60, 0x40, 0x20, 0xFF)
    if arrow:
        return (0x30, 0xA0, 0x30, 0xFF)
    return (0, 0, 0, 0)


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y, size)) for x in range(size)))
    mask_row = b"\0" * (((size + 31) // 32) * 4)
    return header + b"".join(rows) + mask_row * size


def main():
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
