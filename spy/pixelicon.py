#!/usr/bin/env python3
"""Turn a text picture (the format of scripts/pixelart.py) into a one-image .ico file.

Silver (C0C0C0) pixels become transparent: alpha 0 and set in the AND mask.
usage: pixelicon.py <picture.txt> <out.ico>
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from pixelart import parse  # noqa: E402

TRANSPARENT = (0xC0, 0xC0, 0xC0)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: pixelicon.py <picture.txt> <out.ico>")
    palette, rows = parse(sys.argv[1])
    width, height = len(rows[0]), len(rows)
    if width > 256 or height > 256:
        sys.exit("icons are at most 256 x 256")
    xor = bytearray()
    mask_stride = ((width + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        bits = bytearray(mask_stride)
        for x, ch in enumerate(row):
            r, g, b = palette[ch]
            clear = (r, g, b) == TRANSPARENT
            xor += bytes((b, g, r, 0 if clear else 255))
            if clear:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = info + xor + mask
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(image), 6 + 16)
    with open(sys.argv[2], "wb") as f:
        f.write(header + entry + image)


if __name__ == "__main__":
    main()
