#!/usr/bin/env python3
"""Writes bmp_suite_expected.txt: what the loader must make of every file of the BMP test suite.

Run once by hand (needs ImageMagick's `convert`); the tests only read the text file it writes.

Decoded pixels come from ImageMagick, an independent decoder, as RGB bytes bottom row first and hashed with
SHA-256. Where our loader's documented rules differ from ImageMagick the difference is applied here:
 - pixels a run-length stream never writes, and indices past the colour table, are black for us;
   ImageMagick shows colour-table entry 0 there, which in these files is 80 00 FF, a colour the suite's
   picture never uses (checked below), so every such pixel is set to black;
 - files ImageMagick refuses only for a field our loader never reads take the hash of the intact file
   they were made from.
Rejections follow the loader's rules: headers other than 12 and 40 bytes are an unknown format; bit-field
and other codings, unsupported bit counts, width <= 0, top-down run-length files and cut data are a
conversion error; a picture above 64 Mpixel is out of memory.

Usage: make_expected.py ../suite > bmp_suite_expected.txt   (from tests/image/data)
"""
import hashlib
import os
import struct
import subprocess
import sys

UNKNOWN = "error Unknown DIB file format."
CONVERSION = "error Image file conversion error."
OUT_OF_MEMORY = "error Out of memory."
UNUSED_ENTRY0 = bytes.fromhex("8000ff")

# Files whose picture is another file's, broken only in a field the loader never reads.
SAME_PICTURE = {
    "b/badfilesize.bmp": "g/pal1.bmp",
    "b/badplanes.bmp": "g/pal1.bmp",
    "q/pal8oversizepal.bmp": "g/pal8.bmp",
}
# Files with never-written pixels or indices past the table: entry 0 becomes black.
BLACK_FOR_ENTRY0 = {"q/pal4rlecut.bmp", "q/pal4rletrns.bmp", "q/pal8rlecut.bmp", "q/pal8rletrns.bmp",
                    "b/pal8badindex.bmp"}
# Streams that try to run or move outside the picture: ImageMagick places the clipped pixels differently,
# so only the outcome (an image of the right size, no fault) is fixed for them.
CLIPPED_RLE = {"b/badrle.bmp", "b/badrle4.bmp", "b/badrle4bis.bmp", "b/badrle4ter.bmp", "b/badrlebis.bmp",
               "b/badrleter.bmp"}
CUT_DATA = {"b/shortfile.bmp", "b/badpalettesize.bmp"}


def magick_rgb(path):
    # Cut run-length files make convert warn and exit 1 while still writing the picture; its size is checked.
    return subprocess.run(["convert", path, "-flip", "-depth", "8", "rgb:-"], capture_output=True).stdout


def magick_size(path):
    out = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True).stdout
    return tuple(int(v) for v in out.split())


def expectation(suite, name):
    data = open(os.path.join(suite, name), "rb").read()
    at = 14 if data[:2] == b"BM" else 0
    header_size = struct.unpack_from("<I", data, at)[0]
    if header_size not in (12, 40):
        return UNKNOWN
    if header_size == 12:
        width, height, _, bits = struct.unpack_from("<HHHH", data, at + 4)
        compression = 0
    else:
        width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, at + 4)
    if bits not in (1, 4, 8, 16, 24, 32):
        return CONVERSION
    if compression not in (0, 1, 2) or (compression == 1 and bits != 8) or (compression == 2 and bits != 4):
        return CONVERSION
    if compression != 0 and height < 0:
        return CONVERSION
    if width <= 0 or height == 0:
        return CONVERSION
    if width * abs(height) > 64 * 1024 * 1024:
        return OUT_OF_MEMORY
    if name in CUT_DATA:
        return CONVERSION
    if name in CLIPPED_RLE:
        return "image %d %d any" % (width, abs(height))
    source = os.path.join(suite, SAME_PICTURE.get(name, name))
    rgb = magick_rgb(source)
    w, h = magick_size(source)
    assert (w, h) == (width, abs(height)), name
    assert len(rgb) == w * h * 3, name
    if name in BLACK_FOR_ENTRY0:
        pixels = [rgb[i:i + 3] for i in range(0, len(rgb), 3)]
        rgb = b"".join(b"\0\0\0" if p == UNUSED_ENTRY0 else p for p in pixels)
    return "image %d %d %s" % (w, h, hashlib.sha256(rgb).hexdigest())


def main():
    suite = sys.argv[1]
    # The colour standing for "never written" must not occur in the intact pictures.
    for intact in ("g/pal8.bmp", "g/pal4.bmp"):
        rgb = magick_rgb(os.path.join(suite, intact))
        assert all(rgb[i:i + 3] != UNUSED_ENTRY0 for i in range(0, len(rgb), 3)), intact
    print("# Expected loader outcome for each file of the BMP test suite; written by make_expected.py.")
    print("# FILE image WIDTH HEIGHT SHA256-of-RGB-bottom-row-first | FILE image WIDTH HEIGHT any | FILE error MESSAGE")
    for folder in ("g", "q", "b", "x"):
        for entry in sorted(os.listdir(os.path.join(suite, folder))):
            if entry.endswith(".bmp"):
                name = folder + "/" + entry
                print(name, expectation(suite, name))


main()
