#!/usr/bin/env python3
"""check_icon.py ICON.png PICTURE.ppm: checks that an installed icon is the picture's middle square scaled to
the icon's size (PICTURE.ppm as dibdump writes it from the bitmap the icon is made of). The icon and the
square are cut into the same grid of blocks; scaling by area keeps each block's mean colour, so the means
must agree within the rounding of single pixels. Prints what differs; exit 0 when nothing does."""
import os
import sys

sys.dont_write_bytecode = True   # no caches left in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from png_reader import decode_png  # noqa: E402


def read_ppm(path):
    """A binary PPM (P6, 255) to (width, height, rows of (r, g, b)), top row first."""
    data = open(path, 'rb').read()
    fields = data.split(maxsplit=4)
    if fields[0] != b'P6' or int(fields[3]) != 255:
        raise ValueError('not a binary PPM')
    width, height = int(fields[1]), int(fields[2])
    pixels = fields[4]
    return width, height, [[tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
                           for y in range(height)]


def block_means(rows, left, top, side, blocks):
    """Mean colour of each of blocks x blocks equal squares of the side x side square at (left, top)."""
    step = side // blocks
    means = []
    for by in range(blocks):
        for bx in range(blocks):
            total = [0, 0, 0]
            for y in range(top + by * step, top + (by + 1) * step):
                for x in range(left + bx * step, left + (bx + 1) * step):
                    for c in range(3):
                        total[c] += rows[y][x][c]
            means.append([t / (step * step) for t in total])
    return means


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    size, height, icon = decode_png(open(sys.argv[1], 'rb').read())
    width, picture_height, picture = read_ppm(sys.argv[2])
    if size != height:
        print('FAIL: the icon is %d x %d, not square' % (size, height))
        return 1
    side = min(width, picture_height)
    left = (width - side) // 2
    top = picture_height - side - (picture_height - side) // 2
    blocks = next(b for b in (8, 4, 2, 1) if side % b == 0 and size % b == 0)
    worst = 0.0
    for got, want in zip(block_means(icon, 0, 0, size, blocks), block_means(picture, left, top, side, blocks)):
        worst = max([worst] + [abs(g - w) for g, w in zip(got, want)])
    # Each icon pixel is rounded to a whole value: a block's mean moves by at most half a step.
    if worst > 0.5 + 1e-9:
        print('FAIL: %s differs from the middle of the picture by up to %.2f in a block\'s mean colour'
              % (sys.argv[1], worst))
        return 1
    print('PASS: %s (%d x %d) is the middle of the picture, block means within %.2f' % (sys.argv[1], size, size,
                                                                                        worst))
    return 0


if __name__ == '__main__':
    sys.exit(main())
