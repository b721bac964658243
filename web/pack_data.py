#!/usr/bin/env python3
"""Packs the intro's data folder into one file for the web page (web/page.js unpacks it).

pack_data.py DATA_DIR OUT [--leave-out PATH ...] [--put PATH=FILE ...]

The pack: a 32-bit little-endian length, a JSON list of [path, size] (paths as the program opens them,
"data/..."), then the files' bytes in that order. --leave-out drops files (paths relative to DATA_DIR), for
a site that lacks one; --put packs FILE's bytes at PATH instead of the folder's own (a site with another
song).
"""
import argparse
import json
import os
import struct
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('data_dir')
    parser.add_argument('out')
    parser.add_argument('--leave-out', action='append', default=[])
    parser.add_argument('--put', action='append', default=[])
    args = parser.parse_args()
    left_out = {os.path.normpath(path) for path in args.leave_out}
    put = {os.path.normpath(path): source for path, _, source in (item.partition('=') for item in args.put)}
    files = []
    for folder, _, names in sorted(os.walk(args.data_dir)):
        for name in sorted(names):
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, args.data_dir)
            if os.path.normpath(relative) in left_out:
                continue
            with open(put.get(os.path.normpath(relative), path), 'rb') as f:
                files.append(('data/' + relative.replace(os.sep, '/'), f.read()))
    index = json.dumps([[path, len(data)] for path, data in files]).encode()
    with open(args.out, 'wb') as out:
        out.write(struct.pack('<I', len(index)))
        out.write(index)
        for _, data in files:
            out.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main())
