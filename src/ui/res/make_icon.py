#!/usr/bin/env python3
"""Makes Burnwright.ico from icon_art.py: 48, 32 and 16 pixels, each at 4, 8
and 24 bits per pixel. Plain Python 3, no imaging library.

    python3 make_icon.py [output.ico]
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import icon_art  # noqa: E402

SIZES = (48, 32, 16)
DEPTHS = (4, 8, 24)
SUBSAMPLES = 8   # per axis

# The Windows 16-colour palette, used for the 4-bit images.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def render(size, blend=True):
    """Rows of (r, g, b) or None (transparent), top row first. With blend, a
    pixel is the average of its samples; without, the colour most of them have."""
    scale = 48.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            counts = {}
            covered = 0
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    x = (px + (sx + 0.5) / SUBSAMPLES) * scale
                    y = (py + (sy + 0.5) / SUBSAMPLES) * scale
                    colour = None
                    for inside, c in icon_art.SHAPES:
                        if inside(x, y):
                            colour = c
                    if colour is not None:
                        covered += 1
                        counts[colour] = counts.get(colour, 0) + 1
                        for i in range(3):
                            acc[i] += colour[i]
            if covered * 2 < SUBSAMPLES * SUBSAMPLES:
                row.append(None)
            elif blend:
                row.append(tuple((a + covered // 2) // covered for a in acc))
            else:
                row.append(max(counts, key=counts.get))
        rows.append(row)
    return rows


def nearest(colour, palette):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = sum((colour[i] - p[i]) ** 2 for i in range(3))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def median_cut(colours, count):
    """A palette of at most count colours for the given list of colours."""
    unique = sorted(set(colours))
    if len(unique) <= count:
        return unique
    boxes = [unique]
    while len(boxes) < count:
        boxes.sort(key=lambda b: max(max(c[i] for c in b) - min(c[i] for c in b)
                                     for i in range(3)) if len(b) > 1 else -1)
        box = boxes.pop()
        if len(box) < 2:
            boxes.append(box)
            break
        axis = max(range(3), key=lambda i: max(c[i] for c in box) - min(c[i] for c in box))
        box.sort(key=lambda c: c[axis])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    return [tuple(sum(c[i] for c in b) // len(b) for i in range(3)) for b in boxes]


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def encode(rows, depth):
    """One icon image: BITMAPINFOHEADER, palette, colour bits, mask bits."""
    size = len(rows)
    opaque = [c for row in rows for c in row if c is not None]
    if depth == 4:
        palette = list(VGA16)
    elif depth == 8:
        palette = median_cut(opaque, 256)
        palette += [(0, 0, 0)] * (256 - len(palette))
    else:
        palette = []

    colour_bits = bytearray()
    mask_bits = bytearray()
    for row in reversed(rows):          # bottom-up
        line = bytearray()
        if depth == 24:
            for c in row:
                c = c or (0, 0, 0)
                line += bytes((c[2], c[1], c[0]))
        else:
            indexes = [nearest(c, palette) if c is not None else 0 for c in row]
            if depth == 8:
                line += bytes(indexes)
            else:
                for i in range(0, size, 2):
                    line.append((indexes[i] << 4) | indexes[i + 1])
        line += b"\0" * (row_bytes(size * depth) - len(line))
        colour_bits += line

        mask = bytearray(row_bytes(size))
        for x, c in enumerate(row):
            if c is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        mask_bits += mask

    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0,
                         len(colour_bits) + len(mask_bits), 0, 0, 0, 0)
    quads = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + quads + bytes(colour_bits) + bytes(mask_bits)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "Burnwright.ico")
    images = []
    for depth in DEPTHS:
        for size in SIZES:
            # The 16-colour images keep the artwork's flat colours.
            images.append((size, depth, encode(render(size, blend=depth > 4), depth)))

    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, depth, data in images:
        entries += struct.pack("<BBBBHHII", size, size, 16 if depth == 4 else 0, 0, 1, depth,
                               len(data), offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(directory + entries + b"".join(data for _, _, data in images))


if __name__ == "__main__":
    main()
