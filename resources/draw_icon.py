#!/usr/bin/env python3
"""Draws the application icon: a browser page with a red removal badge.

Writes two raw resources, the way they stand in the executable:
  icon30001.bin  the 32 x 32, 8-bit image (DIB with colour table and AND mask, 2216 bytes)
  group1.bin     the icon group naming that image as resource 30001
Pure arithmetic and no time stamps, so every run writes the same bytes.
"""
import struct
import sys
from pathlib import Path

SIZE = 32
IMAGE_ID = 30001
SAMPLES = 4  # supersampling per axis for smooth edges


def palette():
    """A 6x6x6 colour cube followed by greys: 256 entries."""
    levels = [0, 51, 102, 153, 204, 255]
    colours = [(r, g, b) for r in levels for g in levels for b in levels]
    colours += [(round(i * 255 / 39),) * 3 for i in range(40)]
    assert len(colours) == 256
    return colours


def shade(x, y):
    """Colour at a point of the 32 x 32 square (y down), or None where transparent."""
    # The badge: a red disc with a white cross, lower right.
    cx, cy, r = 22.0, 22.0, 9.5
    dx, dy = x - cx, y - cy
    if dx * dx + dy * dy <= r * r:
        u, v = dx + dy, dx - dy
        if (abs(u) <= 2.2 or abs(v) <= 2.2) and max(abs(u), abs(v)) <= 11.0:
            return (255, 255, 255)
        return (204, 32, 32)
    if dx * dx + dy * dy <= (r + 1.2) ** 2:
        return (255, 255, 255)
    # The page: a window with a blue title bar and grey text lines.
    if 2 <= x < 27 and 3 <= y < 25:
        if x < 3 or x >= 26 or y >= 24:
            return (64, 64, 64)
        if y < 8:
            return (32, 96, 192)
        if 5 <= x < 23 and int(y) in (11, 14, 17, 20):
            return (150, 150, 150)
        return (245, 245, 245)
    return None


def nearest(colours, rgb):
    return min(range(len(colours)), key=lambda i: sum((a - b) ** 2 for a, b in zip(colours[i], rgb)))


def draw():
    colours = palette()
    indices = bytearray(SIZE * SIZE)
    mask_rows = []
    for row in range(SIZE):
        y = SIZE - 1 - row  # DIB rows run bottom-up
        bits = 0
        for x in range(SIZE):
            hits = []
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = shade(x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES)
                    if c is not None:
                        hits.append(c)
            if len(hits) * 2 < SAMPLES * SAMPLES:
                bits |= 1 << (31 - x)  # transparent
                continue
            mean = tuple(sum(c[i] for c in hits) / len(hits) for i in range(3))
            indices[row * SIZE + x] = nearest(colours, mean)
        mask_rows.append(struct.pack(">I", bits))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, 0, 0, 0, 0, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    image = header + table + bytes(indices) + b"".join(mask_rows)
    assert len(image) == 2216, len(image)
    group = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHIH", SIZE, SIZE, 0, 0, 1, 8, len(image), IMAGE_ID)
    return image, group


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    out.mkdir(parents=True, exist_ok=True)
    image, group = draw()
    (out / "icon30001.bin").write_bytes(image)
    (out / "group1.bin").write_bytes(group)


if __name__ == "__main__":
    main()
