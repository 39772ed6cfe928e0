#!/usr/bin/env python3
"""Writes resources/parlod.ico: the icon "PARLOD" of both programs.

Four images of a chip on a disk platter: 32x32 in 16 colours, 32x32 in
2 colours, 32x16 in 2 colours and 16x16 in 16 colours. Standard library
only; run it from anywhere:  python3 tools/make_icon.py
"""
import os
import struct

# The 16-colour palette of the standard VGA colours (index: (r, g, b)).
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
       (128, 0, 128), (0, 128, 128), (192, 192, 192), (128, 128, 128),
       (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
       (0, 255, 255), (255, 255, 255)]
MONO = [(0, 0, 0), (255, 255, 255)]

BLACK, NAVY, SILVER, GREY, YELLOW, WHITE = 0, 4, 7, 8, 11, 15
CLEAR = None  # transparent


def picture(x, y, w, h, colours):
    """Colour of pixel (x, y), y counted from the top, or CLEAR."""
    # Coordinates scaled to a 32x32 design square.
    u = (x + 0.5) * 32.0 / w
    v = (y + 0.5) * 32.0 / h
    # The platter: a ring behind the chip.
    d = ((u - 16) ** 2 + (v - 16) ** 2) ** 0.5
    # The chip body with pins on the left and right.
    body = 9 <= u <= 23 and 7 <= v <= 25
    pin = (6 <= u < 9 or 23 < u <= 26) and 8 <= v <= 24 and int(v) % 3 == 0
    if colours == 2:
        if body:
            edge = u < 10 or u > 22 or v < 8 or v > 24
            notch = ((u - 12) ** 2 + (v - 10) ** 2) < 2.5
            return BLACK if edge or not notch else 1
        if pin:
            return BLACK
        if 14.5 <= d <= 15.8:
            return BLACK
        return CLEAR
    if body:
        if u < 10 or u > 22 or v < 8 or v > 24:
            return BLACK
        if ((u - 12) ** 2 + (v - 10) ** 2) < 2.5:
            return WHITE
        if 12 <= u <= 20 and 17 <= v <= 21:
            return YELLOW
        return GREY
    if pin:
        return SILVER
    if d <= 15.8:
        return NAVY if d >= 14.5 or d <= 3 else (SILVER if d < 14.5 else CLEAR)
    return CLEAR


def image(w, h, colours):
    """The DIB of one icon image: header, palette, XOR and AND bitmaps."""
    bpp = 4 if colours == 16 else 1
    palette = VGA if colours == 16 else MONO
    xor_stride = ((w * bpp + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4
    xor_rows, and_rows = [], []
    for y in range(h - 1, -1, -1):  # bottom-up
        pixels = [picture(x, y, w, h, colours) for x in range(w)]
        xor = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x, p in enumerate(pixels):
            if p is None:
                mask[x // 8] |= 0x80 >> (x % 8)
                p = 0
            if bpp == 4:
                xor[x // 2] |= p << (4 if x % 2 == 0 else 0)
            elif p:
                xor[x // 8] |= 0x80 >> (x % 8)
        xor_rows.append(bytes(xor))
        and_rows.append(bytes(mask))
    bits = b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bpp, 0,
                         len(bits), 0, 0, 0, 0)
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + quads + bits


def main():
    formats = [(32, 32, 16), (32, 32, 2), (32, 16, 2), (16, 16, 16)]
    images = [image(w, h, c) for w, h, c in formats]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (w, h, c), data in zip(formats, images):
        bpp = 4 if c == 16 else 1
        out += struct.pack("<BBBBHHII", w, h, c, 0, 1, bpp, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    here = os.path.dirname(os.path.abspath(__file__))
    target = os.path.join(here, "..", "resources", "parlod.ico")
    with open(target, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
