#!/usr/bin/env python3
"""Draws Tarvelon's icons: a dark panel with a title strip and three load bars (green, yellow, red),
at every size Windows asks for at 100 % to 400 % scale, in 16 colours, each icon one .ico file. The
alert variant, shown in the tray while an alarm is active, has a red frame and title strip.

The picture is defined on a 16 x 16 grid and sampled at pixel centres, so the 16-pixel image is
exact and the larger ones are the same shapes scaled; only the frame stays thin at every size.

Usage: make_icon.py FOLDER             write tarvelon.ico and tarvelon-alert.ico there
       make_icon.py --check FOLDER     fail unless both are what this script draws
"""
import os
import struct
import sys

# The 16 standard colours, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, TEAL, SILVER, GRAY, RED, GREEN, YELLOW = 0, 6, 7, 8, 9, 10, 11

# Bars on the 16-grid: (left, right, top), all standing on row 13.
BARS = [(3, 5, 9, GREEN), (7, 9, 6, YELLOW), (11, 13, 3, RED)]
BAR_BOTTOM = 13
TITLE_ROWS = (1, 2)
SIZES = (256, 64, 48, 40, 32, 24, 20, 16)
FILES = {"tarvelon.ico": False, "tarvelon-alert.ico": True}


def pixel(size, x, y, alert):
    """Palette index of pixel (x, y), or None where the icon is transparent."""
    frame = max(1, size // 32)
    radius = size // 10 if size >= 64 else 0
    # Rounded corners: outside the quarter circles the icon is transparent, along them is the frame.
    far = size - 1 - radius
    if (x < radius or x > far) and (y < radius or y > far):
        cx = radius if x < radius else far
        cy = radius if y < radius else far
        distance = (x - cx) ** 2 + (y - cy) ** 2
        if distance > radius * radius:
            return None
        if distance > (radius - frame) ** 2:
            return RED if alert else SILVER
    if x < frame or y < frame or x >= size - frame or y >= size - frame:
        return RED if alert else SILVER
    gx = (x + 0.5) * 16 / size
    gy = (y + 0.5) * 16 / size
    if TITLE_ROWS[0] <= gy < TITLE_ROWS[1] and 1 <= gx < 15:
        return RED if alert else TEAL
    for left, right, top, colour in BARS:
        if left <= gx < right and top <= gy < BAR_BOTTOM:
            return colour
    if BAR_BOTTOM <= gy < BAR_BOTTOM + 16 / size * max(1, size // 64) and 2 <= gx < 14:
        return GRAY  # base line under the bars
    return BLACK


def image(size, alert):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colour rows and the 1-bit mask, bottom up."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_stride = (size * 4 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colours = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        row = [pixel(size, x, y, alert) for x in range(size)]
        packed = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, index in enumerate(row):
            if index is None:
                bits[x // 8] |= 0x80 >> (x % 8)
                index = BLACK
            packed[x // 2] |= index << (4 if x % 2 == 0 else 0)
        colours += packed
        mask += bits
    return header + palette + bytes(colours) + bytes(mask)


def icon(alert):
    images = [image(size, alert) for size in SIZES]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, body in zip(SIZES, images):
        side = size % 256  # 0 means 256
        data += struct.pack("<BBBBHHII", side, side, 16, 0, 1, 4, len(body), offset)
        offset += len(body)
    return data + b"".join(images)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        for name, alert in FILES.items():
            path = os.path.join(sys.argv[2], name)
            with open(path, "rb") as stored:
                if stored.read() != icon(alert):
                    sys.exit(path + " differs from what make_icon.py draws: run it again")
    elif len(sys.argv) == 2:
        for name, alert in FILES.items():
            with open(os.path.join(sys.argv[1], name), "wb") as out:
                out.write(icon(alert))
    else:
        sys.exit(__doc__)
