#!/usr/bin/env python3
"""Tells whether an area of the screen shows a part of a skin picture.

Reads an X window dump (xwd) from standard input; exits 0 when the w x h area
at (x, y) of the dump equals the area at (bx, by) of the 24-bit BMP, converted
to RGB 565 the way Allegro converts it (the high bits of each channel), and 1
otherwise. The X server must be 16 bits deep: xwd then writes each pixel's
565 value in the dump's pixel size, with colour masks that do not describe it.

Usage: xwd -root -silent | screen_match.py X Y BMP BX BY [W H]
"""
import struct
import sys


def read_dump(data):
    fields = struct.unpack_from(">25I", data, 0)
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    ncolors = fields[19]
    pixels_at = header_size + 12 * ncolors
    size = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"

    def pixel(x, y):
        start = pixels_at + y * bytes_per_line + x * size
        return int.from_bytes(data[start:start + size], order)

    return width, height, pixel


def read_bmp(path):
    data = open(path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    if struct.unpack_from("<H", data, 28)[0] != 24:
        sys.exit(f"{path}: only 24-bit pictures are read")
    row = (width * 3 + 3) // 4 * 4

    def rgb(x, y):
        start = offset + (height - 1 - y) * row + 3 * x
        blue, green, red = data[start:start + 3]
        return red, green, blue

    return rgb


def rgb565(red, green, blue):
    return (red >> 3) << 11 | (green >> 2) << 5 | blue >> 3


def main(argv):
    if len(argv) not in (6, 8):
        sys.exit(__doc__)
    x, y = int(argv[1]), int(argv[2])
    bx, by = int(argv[4]), int(argv[5])
    w, h = (int(argv[6]), int(argv[7])) if len(argv) == 8 else (5, 5)
    width, height, pixel = read_dump(sys.stdin.buffer.read())
    if x < 0 or y < 0 or x + w > width or y + h > height:
        return 1
    rgb = read_bmp(argv[3])
    for j in range(h):
        for i in range(w):
            want = rgb565(*rgb(bx + i, by + j))
            if pixel(x + i, y + j) != want:
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
