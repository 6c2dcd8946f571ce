#!/usr/bin/env python3
"""Turn a picture drawn as text into a 24-bit Windows bitmap (.bmp).

Picture format (one file, one picture):

    # comment lines start with '#'
    palette
    . C0C0C0        one character, then the colour as RRGGBB
    K 000000
    end
    ..KK..
    .K..K.

Every row of the picture must be as wide as the first; every character must be in
the palette. Used at build time for the pictures the programs show.

With --alpha the picture becomes a 32-bit bitmap with an alpha channel instead: the first
palette entry (the transparent colour) is fully transparent, and every transparent pixel below
and right of a drawn one holds a soft shadow (black at a quarter opacity), so that the picture
carries partly transparent pixels as pictures made for modern desktops do.
"""
import struct
import sys


def parse(path):
    palette, rows, in_palette = {}, [], False
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if line.startswith("#") or (not line.strip() and not rows):
                continue
            if line.strip() == "palette":
                in_palette = True
                continue
            if in_palette:
                if line.strip() == "end":
                    in_palette = False
                    continue
                ch, colour = line.split()
                if len(ch) != 1 or len(colour) != 6:
                    sys.exit("%s:%d: palette entries are one character and RRGGBB" % (path, number))
                palette[ch] = tuple(int(colour[i:i + 2], 16) for i in (0, 2, 4))
                continue
            if not line:
                continue
            rows.append((number, line))
    if not rows:
        sys.exit("%s: no picture rows" % path)
    width = len(rows[0][1])
    for number, row in rows:
        if len(row) != width:
            sys.exit("%s:%d: row is %d wide, expected %d" % (path, number, len(row), width))
        for ch in row:
            if ch not in palette:
                sys.exit("%s:%d: '%s' is not in the palette" % (path, number, ch))
    return palette, [r for _, r in rows]


def write_bmp(path, palette, rows):
    width, height = len(rows[0]), len(rows)
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for ch in row:
            r, g, b = palette[ch]
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


SHADOW_ALPHA = 0x40


def write_alpha_bmp(path, palette, rows, transparent):
    """32-bit BGRA, straight (not premultiplied) alpha, bottom-up."""
    width, height = len(rows[0]), len(rows)

    def drawn(x, y):
        return 0 <= x < width and 0 <= y < height and rows[y][x] != transparent

    pixels = bytearray()
    for y in reversed(range(height)):
        for x in range(width):
            if drawn(x, y):
                r, g, b = palette[rows[y][x]]
                pixels += bytes((b, g, r, 255))
            elif drawn(x - 1, y - 1):
                pixels += bytes((0, 0, 0, SHADOW_ALPHA))
            else:
                pixels += bytes((0, 0, 0, 0))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def main():
    args = sys.argv[1:]
    alpha = "--alpha" in args
    args = [a for a in args if a != "--alpha"]
    if len(args) != 2:
        sys.exit("usage: pixelart.py [--alpha] <picture.txt> <out.bmp>")
    palette, rows = parse(args[0])
    if alpha:
        write_alpha_bmp(args[1], palette, rows, next(iter(palette)))
    else:
        write_bmp(args[1], palette, rows)


if __name__ == "__main__":
    main()
