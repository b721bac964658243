#!/usr/bin/env python3
"""Checks one captured frame of the intro (an X window dump, xwd format) against what the scene must show:
the size, black letterbox bars with black top and bottom rows, white snowflake lines in the upper right, the
light-blue backdrop at its edges, and both pictures drawn pixel for pixel from their bitmap files in the lower
left corner. The display is 16-bit, so every colour is compared after
the same 5-6-5 rounding, within a small tolerance.

Usage: check_frame.py FRAME.xwd DATA-DIR WIDTHxHEIGHT
Exit 0 when the frame is right; 1 with the reasons on standard output."""
import struct
import sys

TOLERANCE = 10          # per channel, 0..255, after both sides are brought to 5-6-5
PICTURE_MATCH = 0.97    # share of a picture's pixels that must match (the frame outline covers some edges)
BACKDROP = (125, 167, 217)
MIN_FLAKE_PIXELS = 200  # about 700 at 640x480 and 950 at 800x600


def read_xwd(path):
    data = open(path, 'rb').read()
    if len(data) < 100:
        raise ValueError('not an xwd dump: too short')
    fields = struct.unpack('>25I', data[:100])
    (header_size, version, pixmap_format, depth, width, height, _xoffset, byte_order, _unit, _bit_order,
     _pad, bits_per_pixel, bytes_per_line, _visual, red_mask, green_mask, blue_mask, _bits_rgb,
     _cmap_entries, ncolors) = fields[:20]
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (16, 32):
        raise ValueError('unsupported xwd dump (version %d, format %d, %d bits per pixel)'
                         % (version, pixmap_format, bits_per_pixel))
    start = header_size + 12 * ncolors
    if start + bytes_per_line * height > len(data) or width <= 0 or height <= 0:
        raise ValueError('xwd dump shorter than its header says')
    pixel_bytes = bits_per_pixel // 8
    order = '<' if byte_order == 0 else '>'
    code = 'H' if pixel_bytes == 2 else 'I'

    def channel(mask):
        shift = (mask & -mask).bit_length() - 1
        top = mask >> shift
        return shift, top

    channels = [channel(m) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + width * pixel_bytes]
        values = struct.unpack(order + code * width, line)
        rows.append([tuple(((v >> s) & t) * 255 // t for s, t in channels) for v in values])
    return width, height, rows


def to565(rgb):
    """A colour as the 16-bit display shows it."""
    r, g, b = rgb
    return ((r >> 3) * 255 // 31, (g >> 2) * 255 // 63, (b >> 3) * 255 // 31)


def close(a, b):
    return all(abs(x - y) <= TOLERANCE for x, y in zip(a, b))


def read_bmp(path):
    """Rows top first, as (r, g, b) tuples; 8-bit (with palette) and 24-bit uncompressed files."""
    data = open(path, 'rb').read()
    offset = struct.unpack_from('<I', data, 10)[0]
    header = struct.unpack_from('<I', data, 14)[0]
    width, height, _planes, bits, compression = struct.unpack_from('<iiHHI', data, 18)
    if compression != 0 or bits not in (8, 24) or width <= 0 or height == 0:
        raise ValueError('%s: unexpected bitmap layout' % path)
    palette = []
    if bits == 8:
        used = struct.unpack_from('<I', data, 46)[0] or 256
        base = 14 + header
        palette = [(data[base + 4 * i + 2], data[base + 4 * i + 1], data[base + 4 * i]) for i in range(used)]
    stride = (width * bits // 8 + 3) & ~3
    rows = []
    for row in range(abs(height)):
        line = data[offset + row * stride:offset + row * stride + stride]
        if bits == 24:
            pixels = [(line[3 * x + 2], line[3 * x + 1], line[3 * x]) for x in range(width)]
        else:
            pixels = [palette[line[x]] for x in range(width)]
        rows.append(pixels)
    if height > 0:
        rows.reverse()  # stored bottom row first
    return width, abs(height), rows


def picture_match(frame, picture, left, top):
    _, _, rows = frame
    width, height, pixels = picture
    hits = 0
    for y in range(height):
        for x in range(width):
            if close(rows[top + y][left + x], to565(pixels[y][x])):
                hits += 1
    return hits / float(width * height)


def find_picture(frame, picture, left_range, bottom_range):
    """Best placement of the picture with its lower-left corner in the ranges given; (share, left, top)."""
    fw, fh, _ = frame
    width, height, _ = picture
    best = (0.0, -1, -1)
    for bottom in bottom_range:
        top = bottom - height + 1
        for left in left_range:
            if top < 0 or left < 0 or left + width > fw or bottom >= fh:
                continue
            share = picture_match(frame, picture, left, top)
            if share > best[0]:
                best = (share, left, top)
    return best


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    path, data_dir, size = sys.argv[1:]
    want_w, want_h = (int(v) for v in size.split('x'))
    frame = read_xwd(path)
    width, height, rows = frame
    problems = []
    if (width, height) != (want_w, want_h):
        print('frame is %dx%d, expected %dx%d' % (width, height, want_w, want_h))
        return 1
    # The scene plane spans about 125 pixels per unit at 800x600 (100 at 640x480); these points hold only
    # bars or backdrop whatever frame is shown: glyphs bob between about y 125 and 430, the tree stands in
    # the middle, the snowflakes sit over the upper right of the top bar, and the pictures, drawn at their
    # own size in every window, take the lower left up to x 293.
    sx = width / 800.0
    sy = height / 600.0
    bar_points = [(int(x * sx), int(y * sy)) for x in range(20, 601, 40) for y in (5, 25, 45)]
    bar_points += [(int(x * sx), int(y * sy)) for x in range(400, 781, 40) for y in (520, 550, 580)]
    for x, y in bar_points:
        if not close(rows[y][x], (0, 0, 0)):
            problems.append('letterbox bar at (%d, %d) is %s, not black' % (x, y, rows[y][x]))
    # The whole top and bottom rows are black: a scene drawn with a stale viewport (that of a bigger window
    # before an F1) is cut off at the top, where the backdrop then shows.
    for y in (0, height - 1):
        wrong = [x for x in range(width) if not close(rows[y][x], (0, 0, 0))]
        if wrong:
            problems.append('%d pixels of row %d are not black, from x %d' % (len(wrong), y, wrong[0]))
    # The three snowflakes draw white lines in the upper right; a stale viewport pushes them out of sight.
    flake_pixels = sum(1 for y in range(int(height * 0.15)) for x in range(int(width * 0.6), width)
                       if min(rows[y][x]) >= 240)
    if flake_pixels < MIN_FLAKE_PIXELS:
        problems.append('only %d white snowflake pixels in the upper right' % flake_pixels)
    backdrop = to565(BACKDROP)
    backdrop_points = [(int(x * sx), int(y * sy)) for x in (10, 30, 50, 750, 770, 790) for y in (80, 100, 450, 480)]
    # Below the scroller band on the left, where glyphs never pass.
    backdrop_points.append((24, int(height * 0.62)))
    for x, y in backdrop_points:
        if not close(rows[y][x], backdrop):
            problems.append('backdrop at (%d, %d) is %s, not %s' % (x, y, rows[y][x], backdrop))
    # Only the 800x600 frame has its pictures where this looks for them.
    if (width, height) == (800, 600):
        picture1 = read_bmp(data_dir + '/l1.bmp')
        picture2 = read_bmp(data_dir + '/l2.bmp')
        for name, picture, lefts in (('l1.bmp', picture1, range(0, 8)), ('l2.bmp', picture2, range(88, 100))):
            share, left, top = find_picture(frame, picture, lefts, range(590, 600))
            if share < PICTURE_MATCH:
                problems.append('%s not found in the lower left: best match %.1f%% at (%d, %d)'
                                % (name, 100 * share, left, top))
            else:
                print('%s drawn at (%d, %d), %.1f%% of its pixels exact to 16 bits' % (name, left, top, 100 * share))
    for problem in problems[:20]:
        print(problem)
    if problems:
        print('%d problems in the frame' % len(problems))
        return 1
    print('frame %dx%d: bars, backdrop and pictures are right' % (width, height))
    return 0


if __name__ == '__main__':
    sys.exit(main())
