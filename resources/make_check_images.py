#!/usr/bin/env python3
"""Draws the components page's check images into resources/check_images.bmp:
six 16x16 images side by side, in 16 colours. Image 0 is never shown (a
state image of 0 means "no image"); then unchecked, checked, partly checked,
read-only unchecked and read-only checked. Run it only to change the images;
the bitmap it writes is kept in the tree so that building needs no Python."""
import struct
import sys

# The palette: index -> (r, g, b).
PALETTE = [
    (255, 255, 255),  # 0 window background
    (64, 64, 64),     # 1 box border
    (255, 255, 255),  # 2 box inside
    (0, 128, 96),     # 3 tick (the icon's teal)
    (160, 160, 160),  # 4 read-only border
    (236, 236, 236),  # 5 read-only inside
    (140, 140, 140),  # 6 read-only tick
    (0, 128, 96),     # 7 partly-checked square
] + [(0, 0, 0)] * 8

SIZE = 16
IMAGES = 6

# The tick: a short stroke down to the bottom point and a long one up to the
# right, each two pixels high.
TICK_LINE = [(4, 7), (5, 8), (6, 9), (7, 8), (8, 7), (9, 6), (10, 5), (11, 4)]
TICK = [(x, y + dy) for (x, y) in TICK_LINE for dy in (0, 1, 2) if not (dy == 2 and x not in (5, 6, 7))]


def cell(kind):
    """Colour indices of one 16x16 image, row 0 at the top."""
    px = [[0] * SIZE for _ in range(SIZE)]
    if kind == 0:
        return px
    read_only = kind >= 4
    border, inside, tick = (4, 5, 6) if read_only else (1, 2, 3)
    for y in range(2, 15):
        for x in range(1, 14):
            edge = y in (2, 14) or x in (1, 13)
            px[y][x] = border if edge else inside
    if kind in (2, 5):
        for (x, y) in TICK:
            px[y][x] = tick
    elif kind == 3:
        for y in range(5, 12):
            for x in range(4, 11):
                px[y][x] = 7
    return px


def bitmap():
    width = SIZE * IMAGES
    cells = [cell(k) for k in range(IMAGES)]
    row_bytes = (width // 2 + 3) & ~3
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up
        row = bytearray()
        for x in range(0, width, 2):
            a = cells[x // SIZE][y][x % SIZE]
            b = cells[(x + 1) // SIZE][y][(x + 1) % SIZE]
            row.append(a << 4 | b)
        row += bytes(row_bytes - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, width, SIZE, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(palette)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + palette + pixels


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/check_images.bmp"
    with open(out, "wb") as f:
        f.write(bitmap())


if __name__ == "__main__":
    main()
