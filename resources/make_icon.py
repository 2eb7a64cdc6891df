#!/usr/bin/env python3
"""Draws the stub's icon (a white quill-stroke "Q" on a teal tile) into
resources/quillmar.ico at 16 and 32 pixels in 16 colours. Run it only to change the icon;
the .ico it writes is kept in the tree so that building needs no Python."""
import math
import struct
import sys


def pixel(size, x, y):
    """RGBA of one pixel, drawn with 4x4 supersampling for smooth edges."""
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(4):
        for sx in range(4):
            u = (x + (sx + 0.5) / 4) / size  # 0..1 left to right
            v = (y + (sy + 0.5) / 4) / size  # 0..1 top to bottom
            r, g, b, a = sample(u, v)
            acc[0] += r * a
            acc[1] += g * a
            acc[2] += b * a
            acc[3] += a
    if acc[3] == 0:
        return (0, 0, 0, 0)
    return tuple(int(round(c / acc[3])) for c in acc[:3]) + (int(round(acc[3] / 16 * 255)),)


def sample(u, v):
    # Rounded tile.
    m, rad = 0.04, 0.18
    dx = max(m + rad - u, 0, u - (1 - m - rad))
    dy = max(m + rad - v, 0, v - (1 - m - rad))
    if dx * dx + dy * dy > rad * rad:
        return (0, 0, 0, 0)
    # Vertical gradient from teal to a deeper blue.
    t = v
    tile = (int(20 + 10 * t), int(150 - 60 * t), int(170 - 20 * t), 1)
    # The ring of the Q.
    cx, cy = 0.47, 0.46
    d = math.hypot(u - cx, v - cy)
    if 0.20 <= d <= 0.30:
        return (250, 250, 245, 1)
    # The quill stroke: a slanted tail from the ring down to the right corner.
    px, py = u - 0.56, v - 0.60
    along = (px + py) / math.sqrt(2)
    across = (px - py) / math.sqrt(2)
    if -0.10 <= along <= 0.34 and abs(across) <= 0.075 * (1 - (along + 0.10) / 0.55):
        return (255, 214, 90, 1)
    return tile


def blend(c1, c2, t):
    return tuple(int(round(a + (b - a) * t)) for a, b in zip(c1, c2))


# 16 colours keep the icon small (the stub has a tight size budget): black for
# masked pixels, tile shades, and the white and yellow strokes with their blends.
TILE_TOP, TILE_BOTTOM = (20, 150, 170), (30, 90, 150)
WHITE, YELLOW = (250, 250, 245), (255, 214, 90)
PALETTE = [(0, 0, 0)] + [blend(TILE_TOP, TILE_BOTTOM, i / 4) for i in range(5)]
PALETTE += [blend(TILE_TOP, WHITE, t) for t in (0.33, 0.66)] + [WHITE]
PALETTE += [blend(TILE_BOTTOM, WHITE, t) for t in (0.33, 0.66)]
PALETTE += [blend(TILE_BOTTOM, YELLOW, t) for t in (0.33, 0.66)] + [YELLOW]
PALETTE += [blend(WHITE, YELLOW, 0.5), (255, 255, 255)]
assert len(PALETTE) == 16


def nearest(rgb):
    return min(range(1, 16), key=lambda i: sum((a - b) ** 2 for a, b in zip(rgb, PALETTE[i])))


def image(size):
    rows = [[pixel(size, x, y) for x in range(size)] for y in range(size)]
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    header += b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    for row in reversed(rows):
        idx = [nearest(p[:3]) if p[3] >= 128 else 0 for p in row]
        line = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, size, 2))
        xor += line + bytes((-len(line)) % 4)
    xor = bytes(xor)
    mask_row = ((size + 31) // 32) * 4
    and_mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bits
    return header + xor + bytes(and_mask)


def main(path):
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/quillmar.ico")
